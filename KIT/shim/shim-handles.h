// Kernel-object records behind HANDLE, shared by the units of the window layer. Not for callers of the layer.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdio>

#include "KIT/shim/shim-types.h"

namespace cocoa {
class Task;
}

enum : uint32_t {
  SHIM_OBJTYPE_THREAD = 0x1000002,
  SHIM_OBJTYPE_EVENT = 0x1000003,
  SHIM_OBJTYPE_FILE = 0x1000004,
  SHIM_OBJTYPE_SOCKETOBJ = 0x1000005,
  SHIM_OBJTYPE_EVENTSOCKET = 0x1000006,
  SHIM_OBJTYPE_NSTASK = 0x1000007,
};

struct SHIM_KernelObjHdr {
  uint32_t type;
  std::atomic<int32_t> count;
};

struct SHIM_ThreadObj {
  SHIM_KernelObjHdr hdr;
  DWORD (*threadProc)(LPVOID);
  LPVOID threadParm;
  pthread_t pt;
  std::atomic<DWORD> retv;
  std::atomic<bool> done;
  // A thread is joined (or detached) exactly once; `joinMutex` orders the waiters that race to do it.
  pthread_mutex_t joinMutex;
  bool joined;    // under joinMutex
  bool detached;  // under joinMutex
};

struct SHIM_EventObj {
  SHIM_KernelObjHdr hdr;
  pthread_mutex_t mutex;
  pthread_cond_t cond;
  bool isSignal;  // under mutex
  bool isManualReset;
};

struct SHIM_FileObj {
  SHIM_KernelObjHdr hdr;
  FILE* fp;
};

struct SHIM_SocketObj {
  SHIM_KernelObjHdr hdr;
  int socket[2];  // read end, write end (-1 when absent)
  bool autoReset;
};

struct SHIM_TaskObj {
  SHIM_KernelObjHdr hdr;
  cocoa::Task* task;
};

// A file handle around an open stream (tests only: the layer itself makes none). The handle owns the stream.
HANDLE SHIM_FileHandleFromStream(FILE* fp);
// A waitable socket object reading `fd`; the caller keeps the descriptor and frees the record with
// SHIM_FreeSocketObject, since CloseHandle never frees one (tests only).
HANDLE SHIM_SocketObjectFromDescriptor(int fd);
void SHIM_FreeSocketObject(HANDLE socketObject);
