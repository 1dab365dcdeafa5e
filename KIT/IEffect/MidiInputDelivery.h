// Hands the messages of an input port to the editor on a thread of the port's own.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <thread>
#include <vector>

class IEffectBase;

// The JACK back end calls the input callback inside the server's process cycle, and a synchronous server holds
// every client's cycle until it returns. The editor's handling of a message takes the plug-in mutex, which a
// thread may hold while it waits for the server itself (opening a port waits until its connection is live, closing
// a client waits for the end of a cycle): handled there, a knob turn arriving at that moment would stop the
// server's graph, and with it every client, until the server gives up on the client. So the library's callback
// only copies the message into a ring made in advance, and a thread of the port's own hands the messages to the
// editor in order. Deleting the object stops that thread after the message being handed over; queued ones are
// dropped.
class MidiInputDelivery {
 public:
  explicit MidiInputDelivery(IEffectBase* plug);
  ~MidiInputDelivery();
  MidiInputDelivery(const MidiInputDelivery&) = delete;
  MidiInputDelivery& operator=(const MidiInputDelivery&) = delete;

  // Starts the thread that hands the messages on (once the port opens: the plug-in is whole by then); messages
  // posted before wait in the ring. Idempotent; the port's opener alone calls it.
  void start();
  // Ends the thread after the message being handed over; nothing reaches the editor afterwards. The object
  // itself stays usable by the library's callback, which only copies.
  void stop();
  // As stop, without waiting for the message being handed over: for an object that is never deleted.
  void abandon();
  // The port was closed: what it posted before and is not handed over yet came from the source it was connected to
  // then, and is dropped; what is posted afterwards goes on to the editor.
  void discardPosted();
  bool abandoned() const { return abandoned_; }

  // The library's callback: libjack's process thread, real-time, which libjack may cancel at any instruction. It
  // takes no lock, allocates nothing, waits for nothing and has nothing to unwind: a copy into the ring, published by
  // one store, and a wake-up written in one system call. One thread posts at a time (the port's client's).
  static void post(double, std::vector<unsigned char>* message, void* self);

 private:
  // A stream of knob turns is a few hundred messages a second, and the synthesizer's largest message (all of its
  // data, 37,392 bytes) must fit with room to spare: a power of two.
  static constexpr size_t kRingBytes = size_t{1} << 17;
  static constexpr size_t kHeaderBytes = 4;  // a message's length before its bytes

  void run();
  bool take(std::vector<unsigned char>* message);
  void copyIn(size_t at, const unsigned char* bytes, size_t length);
  void copyOut(size_t at, unsigned char* bytes, size_t length) const;

  IEffectBase* plug_;
  std::unique_ptr<unsigned char[]> ring_;
  alignas(64) std::atomic<size_t> written_{0};  // moved by the poster only
  alignas(64) std::atomic<size_t> read_{0};     // moved by the thread only
  std::atomic<size_t> discardUntil_{0};  // ring position before which nothing is handed over
  std::atomic<size_t> dropped_{0};
  std::atomic<bool> stop_{false};
  bool abandoned_ = false;
  int wake_ = -1;  // an eventfd: a post adds to it, the thread reads it
  std::thread thread_;
};
