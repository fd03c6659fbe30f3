// What tests need of the platform layer and KERNEL32.DLL never has: calls made
// to fail on purpose, reads made to come back short, and counts of what is
// still open or allocated, so a test can prove a path leaks nothing.
// All counts are process-wide and safe to read from any thread.
#pragma once

#include <stdint.h>

#include "kernel32.h"

enum class PlatformCall : int {
  Open,   // CreateFileA
  Size,   // GetFileSize
  Seek,   // SetFilePointer
  Alloc,  // LocalAlloc and GlobalAlloc
  Read,   // ReadFile
  Any,    // any of the above, counted together
};

// Makes the nth call of that kind from now on fail (1 is the next one).
// Every other call behaves normally. A later call replaces the earlier one.
KERNEL32_API void PlatformFailCall(PlatformCall which, uint32_t nth);

// Makes the nth read from now deliver at most maxBytes, and report success.
KERNEL32_API void PlatformShortenRead(uint32_t nth, DWORD maxBytes);

// Makes every open planned to fail give a null handle instead of
// INVALID_HANDLE_VALUE, as some hosts' stand-ins for the platform do.
KERNEL32_API void PlatformFailedOpenGivesNull(BOOL giveNull);

// Makes every block larger than maxBytes fail to allocate (0: no limit), as
// in a host whose address space is nearly full.
KERNEL32_API void PlatformLimitBlockSize(SIZE_T maxBytes);

// Makes IsProcessorFeaturePresent answer FALSE for every feature, as a system
// that does not save the XMM registers (NT 4.0) answers.
KERNEL32_API void PlatformDenyProcessorFeatures(BOOL deny);

// Clears every planned failure, short read, limit and denial.
KERNEL32_API void PlatformClearFaults(void);

// How many calls of that kind have been made since the process started.
KERNEL32_API uint32_t PlatformCallCount(PlatformCall which);

// Bytes that reads have delivered since the process started.
KERNEL32_API uint64_t PlatformBytesRead(void);

// Blocks allocated and not yet freed, and file handles open.
KERNEL32_API uint32_t PlatformLiveBlocks(void);
KERNEL32_API uint32_t PlatformOpenHandles(void);
