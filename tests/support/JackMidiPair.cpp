#include "tests/support/JackMidiPair.h"

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

}  // namespace

std::string JackMidiPair::defaultSource() {
  return EmulatorClient::emulatorOutPort();
}
std::string JackMidiPair::defaultDestination() {
  return EmulatorClient::emulatorInPort();
}

std::vector<std::string> JackMidiPair::outputPorts() {
  RtMidiIn probe(RtMidi::UNIX_JACK, "vexmir-test-probe-" + std::to_string(::getpid()));
  return portNames(probe);
}

std::vector<std::string> JackMidiPair::inputPorts() {
  RtMidiOut probe(RtMidi::UNIX_JACK, "vexmir-test-probe-" + std::to_string(::getpid()));
  return portNames(probe);
}

JackMidiPair::JackMidiPair(const std::string& clientName, const std::string& sourcePort,
                           const std::string& destinationPort) {
  // The process id keeps client names apart between test processes: a client opened under the name of one that
  // a finishing process is still closing can fail to open (the two share the name of the client's socket file).
  std::string unique = clientName + "-" + std::to_string(::getpid());
  try {
    in_ = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, unique + " in");
    out_ = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, unique + " out");
  } catch (const RtMidiError& e) {
    throw std::runtime_error("cannot open RtMidi's JACK back end: " + e.getMessage());
  }
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

JackMidiPair::~JackMidiPair() {
  if (in_) in_->cancelCallback();
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
