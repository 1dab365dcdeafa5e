// A queue of short MIDI messages kept in ascending sample-offset order, filled by the editor and
// drained by the audio callback block by block.
#pragma once

#include "KIT/IEffect/IEffectStructs.h"

class IMidiQueue {
 public:
  // Room for `size` messages at first; the buffer grows by steps of whole 4096-byte pages.
  explicit IMidiQueue(int size = 1024);
  ~IMidiQueue();
  IMidiQueue(const IMidiQueue&) = delete;
  IMidiQueue& operator=(const IMidiQueue&) = delete;

  // Inserts by offset; equal offsets keep their arrival order. Dropped only when no memory can
  // be had.
  void Add(const IMidiMsg* msg);
  // Drops the consumed entries and sizes the buffer for a host block of `size` frames.
  void Resize(int size);
  // Shifts the offsets of the entries left after a block of nFrames, dropping consumed ones.
  void Flush(int nFrames);
  void Clear() { mFront = mBack = 0; }

  bool Empty() const { return mFront == mBack; }
  int ToDo() const { return mBack - mFront; }
  IMidiMsg* Peek() const { return mBuf + mFront; }
  void Remove() { ++mFront; }

  int GetSize() const { return mSize; }
  int GetGrow() const { return mGrow; }

 private:
  bool reallocate(int size);
  void compact();

  IMidiMsg* mBuf = nullptr;
  int mSize = 0;   // capacity in entries
  int mGrow = 0;   // grow step in entries
  int mFront = 0;  // first entry not yet consumed
  int mBack = 0;   // one past the last entry
};
