// Inside the POSIX stand-in: what the calls ask of the failure injection and
// tell its counters. The tests' side of it is fault_injection.h.
#pragma once

#include "fault_injection.h"

namespace posix {

// Sets the calling thread's last error.
void SetError(DWORD error);

// Counts one call of that kind and tells whether it is planned to fail.
bool ShouldFail(PlatformCall which);

// What a failed open gives: INVALID_HANDLE_VALUE, or null when so planned.
HANDLE FailedOpen();

// The count a read may deliver: count, or less when this read is planned short.
DWORD PlannedReadCount(DWORD count);

// Whether a block of that many bytes is refused by a planned limit.
bool OverBlockLimit(SIZE_T bytes);

// The counters of what is alive and what was read.
void CountBlocks(int change);
void CountHandles(int change);
void CountBytesRead(uint64_t bytes);

}  // namespace posix
