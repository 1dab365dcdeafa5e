#include "tools/synth-emulator/JackMidi.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

namespace synthemu {

namespace {
constexpr size_t kRingSize = 8 << 20;

// Writes a length-prefixed record and publishes it in one step, so that the reader never sees half of it.
bool writeRecord(jack_ringbuffer_t* rb, const void* data, uint32_t size) {
  if (jack_ringbuffer_write_space(rb) < sizeof size + size) return false;
  jack_ringbuffer_data_t vec[2];
  jack_ringbuffer_get_write_vector(rb, vec);
  auto copy = [&](const char* src, size_t n, size_t& at) {
    for (size_t done = 0; done < n;) {
      jack_ringbuffer_data_t& v = at < vec[0].len ? vec[0] : vec[1];
      size_t off = at < vec[0].len ? at : at - vec[0].len;
      size_t k = std::min(n - done, v.len - off);
      std::memcpy(v.buf + off, src + done, k);
      done += k;
      at += k;
    }
  };
  size_t at = 0;
  copy(reinterpret_cast<const char*>(&size), sizeof size, at);
  copy(static_cast<const char*>(data), size, at);
  jack_ringbuffer_write_advance(rb, at);
  return true;
}
}  // namespace

JackMidi::JackMidi() {
  sem_init(&inReady_, 0, 0);
}

JackMidi::~JackMidi() {
  close();
  sem_destroy(&inReady_);
}

bool JackMidi::open(const std::string& clientName, std::string* error) {
  if (clientName.empty() || clientName.size() >= static_cast<size_t>(jack_client_name_size())) {
    *error = "the name must be 1 to " + std::to_string(jack_client_name_size() - 1) + " characters";
    return false;
  }
  inRing_ = jack_ringbuffer_create(kRingSize);
  outRing_ = jack_ringbuffer_create(kRingSize);
  if (!inRing_ || !outRing_) {
    *error = "out of memory for the MIDI buffers";
    return false;
  }
  jack_status_t status;
  client_ =
      jack_client_open(clientName.c_str(), static_cast<jack_options_t>(JackNoStartServer | JackUseExactName), &status);
  if (!client_) {
    if (status & JackNameNotUnique)
      *error = "a JACK client named \"" + clientName + "\" is already running";
    else if (status & JackServerFailed)
      *error = "no JACK server answers (start one, for example: jackd --no-realtime -d dummy)";
    else
      *error = "cannot open a JACK client (status 0x" + std::to_string(status) + ")";
    return false;
  }
  in_ = jack_port_register(client_, kInPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  out_ = jack_port_register(client_, kOutPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (!in_ || !out_) {
    *error = "cannot register the JACK MIDI ports";
    close();
    return false;
  }
  jack_set_process_callback(client_, processCallback, this);
  jack_on_shutdown(client_, shutdownCallback, this);
  if (jack_activate(client_) != 0) {
    *error = "cannot activate the JACK client";
    close();
    return false;
  }
  return true;
}

void JackMidi::close() {
  if (abandoned_) return;
  if (client_ && serverGone_) {
    // A client whose server went away cannot be closed (libjack crashes), so its process thread is never
    // joined: nothing it reads (the ports, the rings, the output state) is changed or freed. The rings stay
    // reachable here; the process is about to end.
    static std::mutex abandonedLock;
    static auto* abandoned = new std::vector<jack_ringbuffer_t*>();  // never destroyed: reachable to the end
    std::lock_guard<std::mutex> lock(abandonedLock);
    abandoned->push_back(inRing_);
    abandoned->push_back(outRing_);
    client_ = nullptr;
    abandoned_ = true;
    return;
  }
  if (client_) {
    jack_deactivate(client_);
    jack_client_close(client_);
    client_ = nullptr;
  }
  if (inRing_) jack_ringbuffer_free(inRing_);
  if (outRing_) jack_ringbuffer_free(outRing_);
  inRing_ = outRing_ = nullptr;
}

std::string JackMidi::inPortName() const {
  return in_ ? jack_port_name(in_) : "";
}
std::string JackMidi::outPortName() const {
  return out_ ? jack_port_name(out_) : "";
}

void JackMidi::shutdownCallback(void* arg) {
  auto* self = static_cast<JackMidi*>(arg);
  self->serverGone_ = true;
  sem_post(&self->inReady_);
}

int JackMidi::processCallback(jack_nframes_t frames, void* arg) {
  return static_cast<JackMidi*>(arg)->process(frames);
}

int JackMidi::process(jack_nframes_t frames) {
  void* inBuf = jack_port_get_buffer(in_, frames);
  uint32_t count = jack_midi_get_event_count(inBuf);
  bool any = false;
  for (uint32_t i = 0; i < count; ++i) {
    jack_midi_event_t ev;
    if (jack_midi_event_get(&ev, inBuf, i) != 0) continue;
    uint32_t size = static_cast<uint32_t>(ev.size);
    if (!writeRecord(inRing_, ev.buffer, size)) {
      ++droppedInput_;
      continue;
    }
    any = true;
  }
  if (any) sem_post(&inReady_);

  void* outBuf = jack_port_get_buffer(out_, frames);
  jack_midi_clear_buffer(outBuf);
  if (!bufferCapacity_) bufferCapacity_ = jack_midi_max_event_size(outBuf);
  for (;;) {
    if (!outRemaining_) {
      if (jack_ringbuffer_read_space(outRing_) < sizeof outRemaining_) break;
      jack_ringbuffer_read(outRing_, reinterpret_cast<char*>(&outRemaining_), sizeof outRemaining_);
      outStarted_ = false;
      if (!outRemaining_) continue;
    }
    size_t room = jack_midi_max_event_size(outBuf);
    // A message that fits one period goes out whole; a longer one (a bulk dump) is cut into pieces that a
    // receiver joins again.
    if (room < outRemaining_ && (outRemaining_ <= bufferCapacity_ || outStarted_ || room < 64)) break;
    size_t chunk = outRemaining_ < room ? outRemaining_ : room;
    jack_midi_data_t* dst = jack_midi_event_reserve(outBuf, 0, chunk);
    if (!dst) break;
    jack_ringbuffer_read(outRing_, reinterpret_cast<char*>(dst), chunk);
    outRemaining_ -= static_cast<uint32_t>(chunk);
    outStarted_ = outRemaining_ != 0;
    if (outStarted_) break;  // the rest follows in the next period
  }
  return 0;
}

bool JackMidi::send(const Bytes& message, std::chrono::milliseconds timeout) {
  if (message.empty() || !outRing_) return true;
  std::lock_guard<std::mutex> lock(sendMutex_);
  auto size = static_cast<uint32_t>(message.size());
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!writeRecord(outRing_, message.data(), size)) {
    if (serverGone_ || std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool JackMidi::receive(Bytes& event, std::chrono::milliseconds timeout) {
  for (;;) {
    uint32_t size = 0;
    if (jack_ringbuffer_read_space(inRing_) >= sizeof size) {
      jack_ringbuffer_read(inRing_, reinterpret_cast<char*>(&size), sizeof size);
      event.resize(size);
      jack_ringbuffer_read(inRing_, reinterpret_cast<char*>(event.data()), size);
      return true;
    }
    if (serverGone_) return false;
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    long long ns = ts.tv_nsec + static_cast<long long>(timeout.count()) * 1000000LL;
    ts.tv_sec += static_cast<time_t>(ns / 1000000000LL);
    ts.tv_nsec = static_cast<long>(ns % 1000000000LL);
    int rc;
    while ((rc = sem_timedwait(&inReady_, &ts)) != 0 && errno == EINTR) {
    }
    if (rc != 0) return false;
  }
}

}  // namespace synthemu
