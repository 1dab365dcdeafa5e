#include "tools/synth-emulator/Emulator.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <sstream>

namespace synthemu {

namespace {

const char* kHelp =
    "commands (channels 0-15, programs 0-127, data offsets from 0):\n"
    "  ping | help | ports | quit | reset\n"
    "  state | state program\n"
    "  get edit [d] | get program p [d] | get global [d] | get name [edit|p] | get channel\n"
    "  fields edit|p|global\n"
    "  set edit d v | set program p d v | set global d v | set name edit|p TEXT\n"
    "  load edit HEX | load program p HEX | load global HEX\n"
    "  program p (select, nothing sent) | write p (store the edit buffer) | channel n\n"
    "  turn cc CC V [1|2] | turn nrpn MSB LSB V [1|2] | turn param ID V\n"
    "  send progchange p | send dump [program|global|bulk|all] | send cc CH CC V\n"
    "  send nrpn CH MSB LSB V | send param ID V | send mode 0|1 | send raw HEX\n"
    "  log [from] | logsize | clearlog | wait MS FROM TEXT\n"
    "  bank load FILE | bank save FILE\n"
    "  drop dumps N (the next N program dumps are lost) | results on|off (load and write results answered)\n"
    "  delay answers MS (each answer goes out MS ms late, the messages after it wait; 0 sends the waiting one now)";

std::vector<std::string> split(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

// The rest of `line` after its first `words` words.
std::string restAfter(const std::string& line, size_t words) {
  size_t i = 0;
  for (size_t w = 0; w < words; ++w) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
  }
  if (i < line.size()) ++i;  // one separating space; further spaces belong to the text
  return line.substr(std::min(i, line.size()));
}

struct CommandError {
  std::string message;
};

long number(const std::string& s, long min, long max, const char* what) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s.c_str(), &end, 0);
  if (s.empty() || *end || errno || v < min || v > max)
    throw CommandError{std::string(what) + " must be a number from " + std::to_string(min) + " to " +
                       std::to_string(max) + ", not \"" + s + "\""};
  return v;
}

const std::string& arg(const std::vector<std::string>& a, size_t i, const char* usage) {
  if (i >= a.size()) throw CommandError{std::string("missing argument; usage: ") + usage};
  return a[i];
}

void noMore(const std::vector<std::string>& a, size_t n, const char* usage) {
  if (a.size() > n) throw CommandError{std::string("too many arguments; usage: ") + usage};
}

}  // namespace

Emulator::Emulator(MessageLog& log)
    : log_(log),
      parser_([this](const Bytes& m) { handleMessage(m); }, [this](const std::string& n) { log_.note(n); }) {}

Emulator::~Emulator() {
  stop();
}

bool Emulator::start(const std::string& clientName, std::string* error) {
  if (!jack_.open(clientName, error)) return false;
  running_ = true;
  worker_ = std::thread([this] { worker(); });
  log_.note("ready: ports \"" + jack_.inPortName() + "\" and \"" + jack_.outPortName() + "\", global channel " +
            std::to_string(model_.channel()));
  return true;
}

void Emulator::stop() {
  {
    std::lock_guard<std::mutex> lock(modelMutex_);
    running_ = false;
  }
  answerDelayChanged_.notify_all();
  if (worker_.joinable()) worker_.join();
  jack_.close();
  log_.wakeAll();
}

void Emulator::requestQuit() {
  {
    std::lock_guard<std::mutex> lock(quitMutex_);
    quit_ = true;
  }
  quitChanged_.notify_all();
}

void Emulator::waitForQuit() {
  std::unique_lock<std::mutex> lock(quitMutex_);
  while (!quit_ && !jack_.serverGone()) quitChanged_.wait_for(lock, std::chrono::milliseconds(200));
}

void Emulator::worker() {
  Bytes event;
  unsigned long dropped = 0;
  while (running_) {
    try {
      if (jack_.receive(event, std::chrono::milliseconds(100)))
        parser_.feed(event.data(), event.size(), MidiParser::Clock::now());
      parser_.expire(MidiParser::Clock::now(), std::chrono::milliseconds(500));
      if (jack_.droppedInputEvents() != dropped) {
        dropped = jack_.droppedInputEvents();
        log_.note("input buffer overflow: " + std::to_string(dropped) + " events lost so far");
      }
      if (jack_.serverGone()) {
        log_.note("the JACK server has gone away");
        requestQuit();
        return;
      }
    } catch (const std::exception& e) {
      log_.note(std::string("error while handling input: ") + e.what());
    }
  }
}

void Emulator::handleMessage(const Bytes& m) {
  log_.message("in", m);
  Reaction r;
  {
    std::unique_lock<std::mutex> lock(modelMutex_);
    const bool programDump =
        m.size() == kProgramDumpLength && m[1] == kKorgId && m[3] == kModelId && m[4] == kFnProgramDump;
    if (programDump && dumpsToDrop_ > 0) {
      --dumpsToDrop_;
      log_.note("program dump dropped on purpose");
      return;
    }
    r = model_.receive(m);
    auto isResult = [](const Bytes& b) {
      return b.size() == kRequestLength && b[4] >= kFnWriteCompleted && b[4] <= kFnFormatError;
    };
    if (!answersResults_)
      r.replies.erase(std::remove_if(r.replies.begin(), r.replies.end(), isResult), r.replies.end());
    const auto came = std::chrono::steady_clock::now();
    auto due = [&] { return came + std::chrono::milliseconds(answerDelayMs_); };
    if (!r.replies.empty() && answerDelayMs_ > 0) log_.note("answer delayed by " + std::to_string(answerDelayMs_) + " ms");
    while (!r.replies.empty() && running_ && std::chrono::steady_clock::now() < due())
      answerDelayChanged_.wait_until(lock, due());
  }
  for (const std::string& n : r.notes) log_.note(n);
  transmit(r.replies);
}

void Emulator::transmit(const std::vector<Bytes>& messages) {
  for (const Bytes& m : messages) {
    log_.message("out", m);
    if (!jack_.send(m)) log_.note("output buffer full: message of " + std::to_string(m.size()) + " bytes lost");
  }
}

std::string Emulator::execute(const std::string& line) {
  std::vector<std::string> args = split(line);
  if (args.empty()) return "error empty command\n";
  try {
    return run(args, line);
  } catch (const CommandError& e) {
    return "error " + e.message + "\n";
  } catch (const std::exception& e) {
    return std::string("error ") + e.what() + "\n";
  }
}

std::string Emulator::run(const std::vector<std::string>& a, const std::string& line) {
  const std::string& cmd = a[0];
  std::ostringstream out;
  auto ok = [&](const std::string& value = "") {
    out << "ok" << (value.empty() ? "" : " " + value) << "\n";
    return out.str();
  };

  if (cmd == "ping") return ok("pong");
  if (cmd == "help") return kHelp + std::string("\nok\n");
  if (cmd == "quit") {
    requestQuit();
    return ok("bye");
  }
  if (cmd == "ports") {
    out << "in " << jack_.inPortName() << "\nout " << jack_.outPortName() << "\n";
    return ok();
  }
  if (cmd == "log") {
    size_t from = a.size() > 1 ? number(a[1], 0, LONG_MAX, "from") : 0;
    size_t end = log_.end();
    for (const std::string& l : log_.linesFrom(from)) out << l << "\n";
    return ok(std::to_string(end));
  }
  if (cmd == "logsize") return ok(std::to_string(log_.end()));
  if (cmd == "clearlog") {
    log_.clear();
    return ok(std::to_string(log_.end()));
  }
  if (cmd == "wait") {
    const char* usage = "wait MS FROM TEXT";
    long ms = number(arg(a, 1, usage), 0, 600000, "time-out");
    long from = number(arg(a, 2, usage), 0, LONG_MAX, "from");
    std::string text = restAfter(line, 3);
    if (text.empty()) throw CommandError{std::string("missing text; usage: ") + usage};
    size_t index;
    std::string found;
    if (!log_.waitFor(text, static_cast<size_t>(from), std::chrono::milliseconds(ms), &index, &found))
      throw CommandError{"timeout after " + std::to_string(ms) + " ms waiting for \"" + text + "\""};
    return ok(std::to_string(index) + " " + found);
  }

  std::vector<Bytes> toSend;
  std::string reply;
  {
    std::lock_guard<std::mutex> lock(modelMutex_);
    SynthModel& m = model_;
    std::string error;
    if (cmd == "reset") {
      noMore(a, 1, "reset");
      m.reset();
      dumpsToDrop_ = 0;
      answersResults_ = true;
      answerDelayMs_ = 0;
      answerDelayChanged_.notify_all();
      reply = ok();
    } else if (cmd == "drop") {
      const char* usage = "drop dumps N";
      if (arg(a, 1, usage) != "dumps") throw CommandError{std::string("usage: ") + usage};
      noMore(a, 3, usage);
      dumpsToDrop_ = static_cast<int>(number(arg(a, 2, usage), 0, 1000, "count"));
      reply = ok();
    } else if (cmd == "delay") {
      const char* usage = "delay answers MS";
      if (arg(a, 1, usage) != "answers") throw CommandError{std::string("usage: ") + usage};
      noMore(a, 3, usage);
      answerDelayMs_ = static_cast<int>(number(arg(a, 2, usage), 0, 600000, "delay"));
      answerDelayChanged_.notify_all();
      reply = ok();
    } else if (cmd == "results") {
      const char* usage = "results on|off";
      const std::string& on = arg(a, 1, usage);
      noMore(a, 2, usage);
      if (on != "on" && on != "off") throw CommandError{std::string("usage: ") + usage};
      answersResults_ = on == "on";
      reply = ok();
    } else if (cmd == "state") {
      if (a.size() > 1 && a[1] == "program") {
        reply = ok(std::to_string(m.currentProgram()));
      } else {
        noMore(a, 1, "state | state program");
        out << "channel " << m.channel() << "\nprogram " << m.currentProgram() << "\nname "
            << SynthModel::programName(m.edit()) << "\neditmode " << (m.editMode() ? 1 : 0) << "\ntimbre "
            << (m.selectedTimbre() == 2 ? "both" : std::to_string(m.selectedTimbre() + 1)) << "\nwriteprotect "
            << (m.writeProtected() ? 1 : 0) << "\n";
        reply = ok();
      }
    } else if (cmd == "get") {
      const char* usage = "get edit [d] | get program p [d] | get global [d] | get name [edit|p] | get channel";
      const std::string& what = arg(a, 1, usage);
      auto bytesOrOne = [&](const uint8_t* data, size_t n, size_t at) {
        if (a.size() <= at) return ok(hexString(Bytes(data, data + n)));
        noMore(a, at + 1, usage);
        return ok(std::to_string(data[number(a[at], 0, static_cast<long>(n) - 1, "data offset")]));
      };
      if (what == "edit") {
        reply = bytesOrOne(m.edit().data(), kProgramSize, 2);
      } else if (what == "program") {
        int p = static_cast<int>(number(arg(a, 2, usage), 0, 127, "program"));
        reply = bytesOrOne(m.program(p).data(), kProgramSize, 3);
      } else if (what == "global") {
        reply = bytesOrOne(m.global().data(), kGlobalSize, 2);
      } else if (what == "name") {
        noMore(a, 3, usage);
        const Program& p = a.size() < 3 || a[2] == "edit" ? m.edit() : m.program(number(a[2], 0, 127, "program"));
        reply = ok(SynthModel::programName(p));
      } else if (what == "channel") {
        reply = ok(std::to_string(m.channel()));
      } else {
        throw CommandError{std::string("unknown item \"") + what + "\"; usage: " + usage};
      }
    } else if (cmd == "fields") {
      const char* usage = "fields edit|p|global";
      const std::string& what = arg(a, 1, usage);
      noMore(a, 2, usage);
      const auto fields = what == "global" ? globalFields(m.global())
                                           : programFields(what == "edit" ? m.edit()
                                                                          : m.program(number(what, 0, 127, "program")));
      for (const auto& f : fields) out << f.first << " " << f.second << "\n";
      reply = ok();
    } else if (cmd == "set") {
      const char* usage = "set edit d v | set program p d v | set global d v | set name edit|p TEXT";
      const std::string& what = arg(a, 1, usage);
      if (what == "edit" || what == "global") {
        bool edit = what == "edit";
        noMore(a, 4, usage);
        long d = number(arg(a, 2, usage), 0, edit ? kProgramSize - 1 : kGlobalSize - 1, "data offset");
        long v = number(arg(a, 3, usage), 0, 255, "value");
        (edit ? m.edit().data() : m.global().data())[d] = static_cast<uint8_t>(v);
      } else if (what == "program") {
        noMore(a, 5, usage);
        long p = number(arg(a, 2, usage), 0, 127, "program");
        long d = number(arg(a, 3, usage), 0, kProgramSize - 1, "data offset");
        m.program(static_cast<int>(p))[d] = static_cast<uint8_t>(number(arg(a, 4, usage), 0, 255, "value"));
      } else if (what == "name") {
        const std::string& which = arg(a, 2, usage);
        Program& p = which == "edit" ? m.edit() : m.program(static_cast<int>(number(which, 0, 127, "program")));
        SynthModel::setProgramName(p, restAfter(line, 3));
      } else {
        throw CommandError{std::string("unknown item \"") + what + "\"; usage: " + usage};
      }
      reply = ok();
    } else if (cmd == "load") {
      const char* usage = "load edit HEX | load program p HEX | load global HEX";
      const std::string& what = arg(a, 1, usage);
      bool program = what == "program";
      if (!program && what != "edit" && what != "global")
        throw CommandError{std::string("unknown item \"") + what + "\"; usage: " + usage};
      int p = program ? static_cast<int>(number(arg(a, 2, usage), 0, 127, "program")) : 0;
      Bytes data;
      if (!parseHex(restAfter(line, program ? 3 : 2), data)) throw CommandError{"the data must be hex bytes"};
      size_t want = what == "global" ? kGlobalSize : kProgramSize;
      if (data.size() != want)
        throw CommandError{"need " + std::to_string(want) + " bytes, got " + std::to_string(data.size())};
      uint8_t* dst = what == "global" ? m.global().data() : program ? m.program(p).data() : m.edit().data();
      std::copy(data.begin(), data.end(), dst);
      reply = ok();
    } else if (cmd == "program" || cmd == "write") {
      noMore(a, 2, "program p | write p");
      int p = static_cast<int>(number(arg(a, 1, "program p | write p"), 0, 127, "program"));
      if (cmd == "program") {
        std::string ignored;
        m.selectProgram(p, &ignored);  // selecting without transmitting
      } else {
        m.program(p) = m.edit();
      }
      reply = ok();
    } else if (cmd == "channel") {
      noMore(a, 2, "channel n");
      m.setChannel(static_cast<int>(number(arg(a, 1, "channel n"), 0, 15, "channel")));
      reply = ok();
    } else if (cmd == "turn") {
      const char* usage = "turn cc CC V [1|2] | turn nrpn MSB LSB V [1|2] | turn param ID V";
      const std::string& what = arg(a, 1, usage);
      auto timbreArg = [&](size_t i) { return a.size() > i ? static_cast<int>(number(a[i], 1, 2, "timbre")) - 1 : -1; };
      if (what == "cc") {
        noMore(a, 5, usage);
        toSend = m.turnControl(static_cast<int>(number(arg(a, 2, usage), 0, 127, "CC")),
                               static_cast<int>(number(arg(a, 3, usage), 0, 127, "value")), timbreArg(4), &error);
      } else if (what == "nrpn") {
        noMore(a, 6, usage);
        toSend = m.turnNrpn(static_cast<int>(number(arg(a, 2, usage), 0, 127, "MSB")),
                            static_cast<int>(number(arg(a, 3, usage), 0, 127, "LSB")),
                            static_cast<int>(number(arg(a, 4, usage), 0, 127, "value")), timbreArg(5), &error);
      } else if (what == "param") {
        noMore(a, 4, usage);
        toSend = m.turnParameter(static_cast<int>(number(arg(a, 2, usage), 0, 0x3FFF, "parameter")),
                                 static_cast<int>(number(arg(a, 3, usage), -128, 0x3FFF, "value")), &error);
      } else {
        throw CommandError{std::string("unknown item \"") + what + "\"; usage: " + usage};
      }
      if (!error.empty()) throw CommandError{error};
      reply = ok();
    } else if (cmd == "send") {
      const char* usage =
          "send progchange p | send dump [program|global|bulk|all] | send cc CH CC V | send nrpn CH MSB LSB V | "
          "send param ID V | send mode 0|1 | send raw HEX";
      const std::string& what = arg(a, 1, usage);
      auto byte7 = [&](size_t i, const char* name) {
        return static_cast<uint8_t>(number(arg(a, i, usage), 0, 127, name));
      };
      if (what == "progchange") {
        noMore(a, 3, usage);
        toSend = m.selectProgram(static_cast<int>(number(arg(a, 2, usage), 0, 127, "program")), &error);
      } else if (what == "dump") {
        noMore(a, 3, usage);
        std::string kind = a.size() > 2 ? a[2] : "program";
        if (kind == "program")
          toSend = {m.programDump()};
        else if (kind == "global")
          toSend = {m.globalDump()};
        else if (kind == "bulk")
          toSend = {m.allProgramsDump()};
        else if (kind == "all")
          toSend = {m.allDataDump()};
        else
          throw CommandError{"dump kind must be program, global, bulk or all"};
      } else if (what == "cc") {
        noMore(a, 5, usage);
        uint8_t ch = static_cast<uint8_t>(number(arg(a, 2, usage), 0, 15, "channel"));
        toSend = {Bytes{static_cast<uint8_t>(0xB0 | ch), byte7(3, "CC"), byte7(4, "value")}};
      } else if (what == "nrpn") {
        noMore(a, 6, usage);
        auto st = static_cast<uint8_t>(0xB0 | number(arg(a, 2, usage), 0, 15, "channel"));
        toSend = {Bytes{st, 99, byte7(3, "MSB")}, Bytes{st, 98, byte7(4, "LSB")}, Bytes{st, 6, byte7(5, "value")}};
      } else if (what == "param") {
        noMore(a, 4, usage);
        long id = number(arg(a, 2, usage), 0, 0x3FFF, "parameter");
        long v = number(arg(a, 3, usage), -128, 0x3FFF, "value");
        uint8_t lo = v < 0 ? static_cast<uint8_t>(v + 128) : static_cast<uint8_t>(v & 0x7F);
        uint8_t hi = v < 0 ? 0x7F : static_cast<uint8_t>(v >> 7);
        toSend = {sysexMessage(m.channel(), kFnParameterChange,
                               {static_cast<uint8_t>(id & 0x7F), static_cast<uint8_t>(id >> 7), lo, hi})};
      } else if (what == "mode") {
        noMore(a, 3, usage);
        toSend = {sysexMessage(m.channel(), kFnModeChange,
                               {static_cast<uint8_t>(number(arg(a, 2, usage), 0, 1, "mode")), 0})};
      } else if (what == "raw") {
        Bytes raw;
        if (!parseHex(restAfter(line, 2), raw) || raw.empty()) throw CommandError{"send raw needs hex bytes"};
        toSend = {raw};
      } else {
        throw CommandError{std::string("unknown item \"") + what + "\"; usage: " + usage};
      }
      if (!error.empty()) throw CommandError{error};
      reply = ok(std::to_string(toSend.size()));
    } else if (cmd == "bank") {
      const char* usage = "bank load FILE | bank save FILE";
      const std::string& what = arg(a, 1, usage);
      std::string path = restAfter(line, 2);
      if (path.empty()) throw CommandError{std::string("missing file; usage: ") + usage};
      if (what == "load") {
        std::vector<Program> programs;
        if (!readBankFile(path, programs, &error)) throw CommandError{error};
        for (int p = 0; p < kProgramCount; ++p) m.program(p) = programs[p];
      } else if (what == "save") {
        if (!writeBankFile(path, m, &error)) throw CommandError{error};
      } else {
        throw CommandError{std::string("unknown item \"") + what + "\"; usage: " + usage};
      }
      reply = ok();
    } else {
      throw CommandError{"unknown command \"" + cmd + "\" (try help)"};
    }
  }
  transmit(toSend);
  return reply;
}

}  // namespace synthemu
