#include "tests/support/JackMidiPair.h"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "tests/support/EmulatorClient.h"

namespace vexmir::testsupport {

namespace {

template <typename Port>
unsigned findPort(Port& port, const std::string& name) {
  std::string seen;
  for (unsigned i = 0; i < port.getPortCount(); ++i) {
    std::string n = port.getPortName(i);
    if (n == name) return i;
    seen += " \"" + n + "\"";
  }
  throw std::runtime_error("no JACK MIDI port named \"" + name + "\"; there are:" + (seen.empty() ? " none" : seen));
}

template <typename Port>
std::vector<std::string> portNames(Port& port) {
  std::vector<std::string> out;
  for (unsigned i = 0; i < port.getPortCount(); ++i) out.push_back(port.getPortName(i));
  return out;
}

// RtMidi reports a JACK client that could not open (the server busy beyond the client's time-out) only as a
// warning on standard error, keeps the port object without a client, and tries again on the next call that needs
// one, leaking the output ring buffer of the failed try. So the pair asks JACK whether its clients exist and makes
// a port object again while one does not; a failed object is destroyed before anything can try again on it.
bool jackClientExists(const std::string& name) {
  std::string self = "vexmir-test-check-" + std::to_string(::getpid());
  jack_client_t* client = jack_client_open(self.c_str(), JackNoStartServer, nullptr);
  if (!client) return false;
  char* uuid = jack_get_uuid_for_client_name(client, name.c_str());
  bool exists = uuid != nullptr;
  if (uuid) jack_free(uuid);
  jack_client_close(client);
  return exists;
}

template <typename Port>
std::unique_ptr<Port> openClient(const std::string& name) {
  std::string problem = "no client";
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    try {
      auto port = std::make_unique<Port>(RtMidi::UNIX_JACK, name);
      if (jackClientExists(name)) return port;
      problem = "its JACK client did not open";
    } catch (const RtMidiError& e) {
      problem = e.getMessage();
    }
  }
  throw std::runtime_error("cannot open RtMidi's JACK back end as \"" + name + "\": " + problem);
}

}  // namespace

std::string JackMidiPair::defaultSource() {
  return EmulatorClient::emulatorOutPort();
}
std::string JackMidiPair::defaultDestination() {
  return EmulatorClient::emulatorInPort();
}

std::vector<std::string> JackMidiPair::outputPorts() {
  return portNames(*openClient<RtMidiIn>("vexmir-test-probe-" + std::to_string(::getpid())));
}

std::vector<std::string> JackMidiPair::inputPorts() {
  return portNames(*openClient<RtMidiOut>("vexmir-test-probe-" + std::to_string(::getpid())));
}

JackMidiPair::JackMidiPair(const std::string& clientName, const std::string& sourcePort,
                           const std::string& destinationPort) {
  // The process id keeps client names apart between test processes: a client opened under the name of one that
  // a finishing process is still closing can fail to open (the two share the name of the client's socket file).
  std::string unique = clientName + "-" + std::to_string(::getpid());
  in_ = openClient<RtMidiIn>(unique + " in");
  out_ = openClient<RtMidiOut>(unique + " out");
  out_->setErrorCallback(
      [](RtMidiError::Type type, const std::string& text, void* self) {
        auto* pair = static_cast<JackMidiPair*>(self);
        std::lock_guard<std::mutex> lock(pair->mutex_);
        pair->lastError_ = text;
        if (type == RtMidiError::WARNING && text.find("full") != std::string::npos) pair->outputFull_ = true;
      },
      this);
  in_->ignoreTypes(false, true, true);  // SysEx wanted; clock and active sensing not
  in_->setCallback(&JackMidiPair::onMessage, this);
  if (!sourcePort.empty()) in_->openPort(findPort(*in_, sourcePort), "in");
  if (!destinationPort.empty()) out_->openPort(findPort(*out_, destinationPort), "out");
  if (sourcePort == EmulatorClient::emulatorOutPort() && destinationPort == EmulatorClient::emulatorInPort() &&
      std::getenv("VEXMIR_EMULATOR_SOCKET"))
    handshakeWithEmulator();
}

void JackMidiPair::handshakeWithEmulator() {
  EmulatorClient emu;
  if (!emu.awaitInput([&] { send(EmulatorClient::inputProbe()); }))
    throw std::runtime_error("no MIDI reaches the emulator over the new JACK connection");
  bool ok = emu.awaitOutput([&](std::chrono::milliseconds wait) {
    return receiveMatching([](const Bytes& m) { return m == EmulatorClient::outputProbe(); }, wait).has_value();
  });
  if (!ok) throw std::runtime_error("no MIDI arrives from the emulator over the new JACK connection");
  clear();
}

// The input client goes first: cancelling the callback does not wait for a message being delivered, but closing
// the client ends RtMidi's JACK thread, so nothing uses the queue, the mutex or the condition once they go.
JackMidiPair::~JackMidiPair() {
  if (in_) in_->cancelCallback();
  in_.reset();
}

void JackMidiPair::onMessage(double, std::vector<unsigned char>* message, void* self) {
  auto* pair = static_cast<JackMidiPair*>(self);
  try {
    {
      std::lock_guard<std::mutex> lock(pair->mutex_);
      pair->queue_.emplace_back(message->begin(), message->end());
    }
    pair->arrived_.notify_all();
  } catch (...) {
    // Nothing may leave a MIDI callback; a lost message shows as a time-out in the test.
  }
}

void JackMidiPair::send(const Bytes& message, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      outputFull_ = false;
      lastError_.clear();
    }
    out_->sendMessage(message.data(), message.size());
    std::lock_guard<std::mutex> lock(mutex_);
    if (!outputFull_) {
      if (!lastError_.empty()) throw std::runtime_error("RtMidi: " + lastError_);
      return;
    }
    if (message.size() > 16000) throw std::runtime_error("RtMidi's JACK output cannot send a message this long");
    if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("RtMidi's output stayed full");
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

std::optional<Bytes> JackMidiPair::receive(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!arrived_.wait_for(lock, timeout, [this] { return !queue_.empty(); })) return std::nullopt;
  Bytes m = std::move(queue_.front());
  queue_.pop_front();
  return m;
}

Bytes JackMidiPair::ask(const Bytes& message, uint8_t answerFunction, std::chrono::milliseconds timeout) {
  send(message, timeout);
  auto reply = receiveMatching([&](const Bytes& m) { return isFunction(m, answerFunction); }, timeout);
  if (!reply)
    throw std::runtime_error("no answer with function " + std::to_string(answerFunction) + " to " + toHex(message));
  return *reply;
}

std::optional<Bytes> JackMidiPair::receiveMatching(const std::function<bool(const Bytes&)>& match,
                                                   std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) return std::nullopt;
    std::optional<Bytes> m = receive(left);
    if (!m) return std::nullopt;
    if (match(*m)) return m;
  }
}

void JackMidiPair::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.clear();
}

}  // namespace vexmir::testsupport
