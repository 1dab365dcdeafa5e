// Hands the messages of an input port to the editor on a thread of the port's own.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class IEffectBase;

// The JACK back end calls the input callback inside the server's process cycle, and a synchronous server holds
// every client's cycle until it returns. The editor's handling of a message takes the plug-in mutex, which a
// thread may hold while it waits for the server itself (opening a port waits until its connection is live, closing
// a client waits for the end of a cycle): handled there, a knob turn arriving at that moment would stop the
// server's graph, and with it every client, until the server gives up on the client. So the library's callback
// only queues a copy of the message, and a thread of the port's own hands the messages to the editor in order.
// Deleting the object stops that thread after the message being handed over; queued ones are dropped.
class MidiInputDelivery {
 public:
  explicit MidiInputDelivery(IEffectBase* plug);
  ~MidiInputDelivery() { stop(); }
  MidiInputDelivery(const MidiInputDelivery&) = delete;
  MidiInputDelivery& operator=(const MidiInputDelivery&) = delete;

  // Ends the thread after the message being handed over; nothing reaches the editor afterwards. The object
  // itself stays usable by the library's callback, which only queues.
  void stop();
  // As stop, without waiting for the message being handed over: for an object that is never deleted.
  void abandon();
  bool abandoned() const { return abandoned_; }

  // The library's callback (libjack's thread, which libjack may cancel anywhere): a short copy under the lock, never a
  // wait for the editor, with cancellation held.
  static void post(double, std::vector<unsigned char>* message, void* self);

 private:
  // A stream of knob turns is a few hundred messages a second; this is seconds of them.
  static constexpr size_t kQueueLimit = 4096;

  void run();
  void take(const std::vector<unsigned char>& message);

  IEffectBase* plug_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::vector<unsigned char>> queue_;
  size_t dropped_ = 0;
  bool stop_ = false;
  bool abandoned_ = false;
  std::thread thread_;  // last: it starts once everything above exists
};
