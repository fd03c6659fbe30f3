// What the plug-in's fuzz targets share: the input's small envelope
// (fuzz_envelope.h), a progress callback that stops where the input says, and
// the check that an input left nothing behind.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz/fuzz_envelope.h"
#include "platform/platform.h"
#include "platform/posix/fault_injection.h"
#include "plugin/plugin.h"
#include "tools/wpp_reference.h"
#include "wpp/bytes.h"
#include "wpp/wpp.h"

namespace fuzzwpp {

struct Progress {
  int calls = 0;
  int stopAtCall = 0;
};

inline int32_t WPP_CALL StopWhereAsked(int32_t numerator, int32_t denominator, intptr_t userData) {
  auto* p = reinterpret_cast<Progress*>(userData);
  ++p->calls;
  if (denominator != 1 || numerator != p->calls - 1) Fail("progress out of order");
  return p->calls == p->stopAtCall ? 1 : 0;
}

struct Held {
  uint32_t blocks = PlatformLiveBlocks();
  uint32_t handles = PlatformOpenHandles();
  void ExpectNothingMore() const {
    if (PlatformLiveBlocks() != blocks) Fail("a memory block was left behind");
    if (PlatformOpenHandles() != handles) Fail("a file handle was left open");
  }
};

// Runs GetPictureInfo and GetPicture on one source, frees what they hand
// over, and checks their results agree with each other, with the support
// test's answer (-1 when it was not asked) and every picture handed over with
// the reference made of image, the source's bytes from where the picture starts.
// Returns the GetPictureInfo result.
inline PluginResult RunPictureCalls(const char* source, int32_t offsetOrLength, uint32_t mode,
                                    int stopAtCall, const uint8_t* image, int32_t supported) {
  PictureInfoRecord info = {};
  const PluginResult infoResult = GetPictureInfo(source, offsetOrLength, mode, &info);
  if (infoResult == Ok) {
    if (info.bitsPerPixel != 16 || info.width == 0 || info.height == 0) Fail("a bad record");
    if (info.textHandle != nullptr) GlobalFree(info.textHandle);
  } else if (infoResult != UnsupportedFormat && infoResult != ReadError &&
             infoResult != OutOfMemory) {
    Fail("GetPictureInfo gave an unknown result");
  }

  Progress progress;
  progress.stopAtCall = stopAtCall;
  BlockHandle dibInfo = nullptr, dibBits = nullptr;
  const PluginResult pictureResult =
      GetPicture(source, offsetOrLength, mode, &dibInfo, &dibBits, StopWhereAsked,
                 reinterpret_cast<intptr_t>(&progress));
  const bool handedOver = pictureResult == Ok || (pictureResult == Aborted && progress.calls == 2);
  if (handedOver) {
    if (dibInfo == nullptr || dibBits == nullptr) Fail("a picture without its blocks");
    if (infoResult != Ok) Fail("a picture where GetPictureInfo refused");
    const uint32_t stride = reference::DibStride(info.width);
    if (LocalSize(dibBits) != static_cast<uint64_t>(stride) * info.height + 4)
      Fail("the bits block has the wrong size");
    if (LocalSize(dibInfo) != 40) Fail("the header block has the wrong size");
    if (wpp::LoadLe32(static_cast<const uint8_t*>(dibInfo) + 20) != stride * info.height)
      Fail("biSizeImage is not the size of the rows");
    // A cancel at the final progress call comes after the whole conversion:
    // its picture is checked as an Ok one is.
    const uint64_t size = LocalSize(dibBits);
    auto* want = static_cast<uint8_t*>(malloc(size));
    reference::FillDibBits(image + wpp::kPixelsOffset, info.width, info.height, want);
    if (memcmp(want, dibBits, size) != 0) Fail("the bits are not the reference's");
    free(want);
  } else if (dibInfo != nullptr || dibBits != nullptr) {
    Fail("blocks in the slots after a refusal");
  }
  if (dibInfo != nullptr) LocalFree(dibInfo);
  if (dibBits != nullptr) LocalFree(dibBits);
  if (pictureResult == Ok && progress.calls != 2) Fail("Ok without both progress calls");
  if (pictureResult == UnsupportedFormat && progress.calls != 0) Fail("progress before a refusal");
  if (supported != -1 && (supported == 1) != (infoResult == Ok))
    Fail("IsSupported and GetPictureInfo disagree");
  return infoResult;
}

}  // namespace fuzzwpp
