// Control surface of the kernel subset (Linux platform layer): failure
// injection and counters for tests.
#pragma once

#include <string>

namespace sim {

// The next `count` calls of `function` ("GlobalAlloc", "GlobalLock",
// "LocalAlloc", "LocalSize", "CreateFileA", "WriteFile", "ReadFile",
// "SetFilePointer", "MoveFileExA", and
// "calloc": the control's own calls of the standard heap) fail (-1: until
// cleared). GlobalAlloc/LocalAlloc/calloc return null, GlobalLock null,
// LocalSize 0, CreateFileA INVALID_HANDLE_VALUE, WriteFile/ReadFile FALSE;
// each but LocalSize and calloc (errno) sets the last error. The first
// `after` calls still succeed.
void FailKernel(const std::string& function, int count = 1, int after = 0);
// Blocks of global and local memory not yet freed.
int LiveGlobalBlocks();
int LiveLocalBlocks();
// Blocks the control took from the standard heap (calloc) and has not freed.
int LiveHeapBlocks();
// File handles not yet closed.
int OpenFileHandles();

}  // namespace sim
