// What a test reads of its own process: its threads and its resident memory.
#pragma once

namespace vexmir::testsupport {

// The threads of this process now (/proc/self/task).
int threadCount();

}  // namespace vexmir::testsupport
