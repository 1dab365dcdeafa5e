#include "KIT/IEffect/IMidiQueue.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int kEntriesPerPage = 4096 / static_cast<int>(sizeof(IMidiMsg));  // 512

int roundUpToPage(int entries) {
  if (entries < 1) entries = 1;
  return (entries + kEntriesPerPage - 1) / kEntriesPerPage * kEntriesPerPage;
}

}  // namespace

IMidiQueue::IMidiQueue(int size) {
  Resize(size);
}

IMidiQueue::~IMidiQueue() {
  std::free(mBuf);
}

bool IMidiQueue::reallocate(int size) {
  void* p = std::realloc(mBuf, static_cast<size_t>(size) * sizeof(IMidiMsg));
  if (!p) return false;
  mBuf = static_cast<IMidiMsg*>(p);
  mSize = size;
  return true;
}

void IMidiQueue::compact() {
  if (mFront == 0) return;
  int n = mBack - mFront;
  if (n > 0) std::memmove(mBuf, mBuf + mFront, static_cast<size_t>(n) * sizeof(IMidiMsg));
  mFront = 0;
  mBack = n;
}

void IMidiQueue::Add(const IMidiMsg* msg) {
  if (!msg) return;
  if (mBack >= mSize) {
    if (mFront > 0) {
      compact();
    } else {
      if (mGrow <= 0) return;
      if (!reallocate((mSize / mGrow + 1) * mGrow)) return;
    }
  }
  if (mBack > mFront && msg->mOffset < mBuf[mBack - 1].mOffset) {
    int i = mBack - 2;
    while (i >= mFront && msg->mOffset < mBuf[i].mOffset) --i;
    int at = i + 1;
    std::memmove(mBuf + at + 1, mBuf + at, static_cast<size_t>(mBack - at) * sizeof(IMidiMsg));
    mBuf[at] = *msg;
  } else {
    mBuf[mBack] = *msg;
  }
  ++mBack;
}

void IMidiQueue::Resize(int size) {
  compact();
  mGrow = roundUpToPage(size);
  int want = mGrow;
  int queued = roundUpToPage(mBack);
  if (queued > want) want = queued;
  if (want != mSize) reallocate(want);  // on failure the old buffer stays
}

void IMidiQueue::Flush(int nFrames) {
  compact();
  for (int i = 0; i < mBack; ++i) mBuf[i].mOffset -= nFrames;
}
