// Memory mode: arbitrary bytes and a claimed length that is never more than
// the bytes really present, into IsSupported, GetPictureInfo and GetPicture.

#include <string.h>

#include "fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzwpp::Envelope e;
  if (!fuzzwpp::ReadEnvelope(data, size, &e)) return 0;
  // The top bit set passes the number as is: negative lengths must be refused.
  // Otherwise it is cut to the bytes at hand.
  const int32_t claimed = (e.number & 0x80000000u) != 0
                              ? static_cast<int32_t>(e.number)
                              : static_cast<int32_t>(e.number % (e.bodySize + 1));
  // Only the claimed bytes exist in the copy, so any read past them is caught.
  const size_t present = claimed > 0 ? static_cast<size_t>(claimed) : 0;
  uint8_t* copy = static_cast<uint8_t*>(malloc(present == 0 ? 1 : present));
  if (present != 0) memcpy(copy, e.body, present);
  // Any non-zero low three bits select memory; the high bits must not matter.
  uint32_t mode = static_cast<uint32_t>(e.control) >> 2;
  if ((mode & kSourceModeMask) == 0) mode |= 1;

  const fuzzwpp::Held before;
  const uintptr_t address = reinterpret_cast<uintptr_t>(copy);
  int32_t supported = -1;
  // The support test reads bytes 16 to 23 of whatever it is given.
  if (present >= wpp::kHeaderSize && (address >> 16) != 0) supported = IsSupported(nullptr, copy);
  const PluginResult info = fuzzwpp::RunPictureCalls(reinterpret_cast<const char*>(copy), claimed,
                                                     mode, e.stopAtCall, copy, supported);
  if (info == ReadError) fuzzwpp::Fail("a read error in memory mode");
  before.ExpectNothingMore();
  free(copy);
  return 0;
}
