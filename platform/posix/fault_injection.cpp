// The failure injection and the counters of the POSIX stand-in: calls made
// to fail on purpose, reads made short, blocks refused past a size, features
// denied, and the counts a test reads to prove a path leaks nothing.

#include <atomic>

#include "faults.h"

namespace {

thread_local DWORD lastError = NO_ERROR;

constexpr int kCallKinds = static_cast<int>(PlatformCall::Any) + 1;
std::atomic<uint32_t> callCounts[kCallKinds];
std::atomic<uint32_t> failAt[kCallKinds];  // 0 = no planned failure; else a call count
std::atomic<uint32_t> shortReadAt{0};
std::atomic<DWORD> shortReadBytes{0};
std::atomic<bool> failedOpenGivesNull{false};
std::atomic<SIZE_T> blockSizeLimit{0};
std::atomic<bool> featuresDenied{false};

std::atomic<uint32_t> liveBlocks{0};
std::atomic<uint32_t> openHandles{0};
std::atomic<uint64_t> bytesRead{0};

uint32_t CountOf(PlatformCall which) { return callCounts[static_cast<int>(which)].load(); }

}  // namespace

namespace posix {

void SetError(DWORD error) { lastError = error; }

bool ShouldFail(PlatformCall which) {
  const int kind = static_cast<int>(which);
  const int any = static_cast<int>(PlatformCall::Any);
  const uint32_t n = callCounts[kind].fetch_add(1) + 1;
  const uint32_t nAny = callCounts[any].fetch_add(1) + 1;
  uint32_t target = failAt[kind].load();
  if (target != 0 && n == target && failAt[kind].compare_exchange_strong(target, 0)) return true;
  target = failAt[any].load();
  return target != 0 && nAny == target && failAt[any].compare_exchange_strong(target, 0);
}

HANDLE FailedOpen() { return failedOpenGivesNull.load() ? nullptr : INVALID_HANDLE_VALUE; }

DWORD PlannedReadCount(DWORD count) {
  uint32_t target = shortReadAt.load();
  if (target != 0 && CountOf(PlatformCall::Read) == target &&
      shortReadAt.compare_exchange_strong(target, 0) && shortReadBytes.load() < count)
    return shortReadBytes.load();
  return count;
}

bool OverBlockLimit(SIZE_T bytes) {
  const SIZE_T limit = blockSizeLimit.load();
  return limit != 0 && bytes > limit;
}

void CountBlocks(int change) { liveBlocks.fetch_add(static_cast<uint32_t>(change)); }
void CountHandles(int change) { openHandles.fetch_add(static_cast<uint32_t>(change)); }
void CountBytesRead(uint64_t bytes) { bytesRead.fetch_add(bytes); }

}  // namespace posix

DWORD WINAPI GetLastError(void) { return lastError; }
void WINAPI SetLastError(DWORD error) { lastError = error; }

BOOL WINAPI IsProcessorFeaturePresent(DWORD feature) {
  if (featuresDenied.load() || feature != PF_XMMI64_INSTRUCTIONS_AVAILABLE) return FALSE;
#if defined(__i386__) || defined(__x86_64__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse2") ? TRUE : FALSE;
#else
  return FALSE;
#endif
}

void PlatformFailCall(PlatformCall which, uint32_t nth) {
  failAt[static_cast<int>(which)].store(nth == 0 ? 0 : CountOf(which) + nth);
}

void PlatformShortenRead(uint32_t nth, DWORD maxBytes) {
  shortReadBytes.store(maxBytes);
  shortReadAt.store(nth == 0 ? 0 : CountOf(PlatformCall::Read) + nth);
}

void PlatformFailedOpenGivesNull(BOOL giveNull) { failedOpenGivesNull.store(giveNull != FALSE); }

void PlatformLimitBlockSize(SIZE_T maxBytes) { blockSizeLimit.store(maxBytes); }

void PlatformDenyProcessorFeatures(BOOL deny) { featuresDenied.store(deny != FALSE); }

void PlatformClearFaults(void) {
  for (auto& target : failAt) target.store(0);
  shortReadAt.store(0);
  failedOpenGivesNull.store(false);
  blockSizeLimit.store(0);
  featuresDenied.store(false);
}

uint32_t PlatformCallCount(PlatformCall which) { return CountOf(which); }
uint64_t PlatformBytesRead(void) { return bytesRead.load(); }
uint32_t PlatformLiveBlocks(void) { return liveBlocks.load(); }
uint32_t PlatformOpenHandles(void) { return openHandles.load(); }
