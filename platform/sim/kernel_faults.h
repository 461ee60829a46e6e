// Control surface of the kernel subset (Linux platform layer): failure
// injection and counters for tests.
#pragma once

#include <string>

namespace sim {

// The next `count` calls of `function` ("GlobalAlloc", "GlobalLock",
// "LocalAlloc", "CreateFileA", "WriteFile", "ReadFile") fail (-1: until
// cleared). GlobalAlloc/LocalAlloc return null, GlobalLock null,
// CreateFileA INVALID_HANDLE_VALUE, WriteFile/ReadFile FALSE; each sets
// the last error. The first `after` calls still succeed.
void FailKernel(const std::string& function, int count = 1, int after = 0);
// Blocks of global and local memory not yet freed.
int LiveGlobalBlocks();
// File handles not yet closed.
int OpenFileHandles();

}  // namespace sim
