// The fault sweep: for each entry point and each mode, the k-th platform call
// fails, for k = 1, 2, ... until the call runs untouched. Every run gives the
// result its failed call calls for, touches neither the record nor the
// progress callback before the conversion, makes no call on a handle that
// never opened, and leaves no open handle, no live block.

#include <string.h>

#include "platform/posix/fault_injection.h"
#include "tests/support/plugin_under_test.h"

using testwpp::Bytes;

namespace {

enum class Step { Open, Size, Seek, Read, SourceBlock, TextBlock, DibBlock };

// The platform calls each request makes, in order, when nothing fails: the
// header alone for the information, then the whole image for the picture.
const std::vector<Step> kLoadHeader = {Step::Open, Step::Size, Step::Seek, Step::Read};
const std::vector<Step> kLoadImage = {Step::Open, Step::Size,        Step::Seek,
                                      Step::Read, Step::SourceBlock, Step::Read};

std::vector<Step> Then(std::vector<Step> steps, std::initializer_list<Step> more) {
  steps.insert(steps.end(), more);
  return steps;
}

// What a request gives when each step fails, in the order of Step: a text
// block that cannot be had still gives Ok, with a null text handle.
constexpr PluginResult kResultWhenFailing[] = {ReadError,   ReadError, ReadError,  ReadError,
                                               OutOfMemory, Ok,        OutOfMemory};
static_assert(sizeof kResultWhenFailing / sizeof kResultWhenFailing[0] ==
                  static_cast<size_t>(Step::DibBlock) + 1,
              "one result for each step");

class FaultSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    image = testwpp::EncodeWpp(testwpp::RandomImage(11, 5));
    file = std::make_unique<testwpp::TempFile>(image);
  }
  void TearDown() override { PlatformClearFaults(); }

  // What a request saw beside its result.
  struct Seen {
    bool nullText = false;       // Ok with a null text handle
    bool recordTouched = false;  // a byte of the host's record changed
    size_t progressCalls = 0;
  };

  // Runs request with the k-th call failing for every k; request returns the
  // result and frees whatever it was handed, saying what else it saw.
  template <typename Request>
  void Sweep(const char* what, const std::vector<Step>& steps, Request request) {
    for (uint32_t k = 1;; ++k) {
      SCOPED_TRACE(std::string(what) + ", call " + std::to_string(k) + " fails");
      const uint32_t blocks = PlatformLiveBlocks(), handles = PlatformOpenHandles();
      const uint32_t callsBefore = PlatformCallCount(PlatformCall::Any);
      PlatformFailCall(PlatformCall::Any, k);
      PlatformFailedOpenGivesNull(failedOpenGivesNull);
      Seen seen;
      const PluginResult result = request(&seen);
      const uint32_t calls = PlatformCallCount(PlatformCall::Any) - callsBefore;
      PlatformClearFaults();
      EXPECT_EQ(PlatformLiveBlocks(), blocks) << "a block was left behind";
      EXPECT_EQ(PlatformOpenHandles(), handles) << "a file was left open";
      if (calls < k) {
        // Nothing failed: the request ran untouched and made every call.
        EXPECT_EQ(result, Ok);
        EXPECT_FALSE(seen.nullText);
        EXPECT_EQ(calls, steps.size()) << "the request makes other platform calls than known";
        return;
      }
      ASSERT_LE(k, steps.size()) << "more platform calls than known";
      const Step failed = steps[k - 1];
      EXPECT_EQ(result, kResultWhenFailing[static_cast<int>(failed)]);
      EXPECT_EQ(seen.nullText, failed == Step::TextBlock);
      EXPECT_TRUE(result == Ok || !seen.recordTouched) << "the record was touched";
      // Only the conversion reports progress, and it starts before its blocks.
      EXPECT_EQ(seen.progressCalls, failed == Step::DibBlock ? 1u : 0u);
      EXPECT_TRUE(failed != Step::Open || calls == 1)
          << calls << " calls: one on a handle that never opened";
      if (HasFailure()) return;
    }
  }

  PluginResult Info(const char* source, int32_t offsetOrLength, uint32_t mode, Seen* seen) {
    uint8_t raw[sizeof(PictureInfoRecord)];
    memset(raw, 0x7F, sizeof raw);
    PictureInfoRecord* info = reinterpret_cast<PictureInfoRecord*>(raw);
    const PluginResult result = Plugin().getPictureInfo(source, offsetOrLength, mode, info);
    for (uint8_t b : raw) seen->recordTouched |= b != 0x7F;
    if (result == Ok) {
      EXPECT_EQ(info->width, 11u);
      seen->nullText = info->textHandle == nullptr;
      if (info->textHandle != nullptr) GlobalFree(info->textHandle);
    }
    return result;
  }

  // Through the 8-bit entry point, or the wide one for a UTF-16 path.
  template <typename Char>
  PluginResult Picture(const Char* source, int32_t offsetOrLength, uint32_t mode, Seen* seen) {
    ProgressLog log;
    Dib dib;
    if constexpr (sizeof(Char) == 1)
      dib.result = Plugin().getPicture(source, offsetOrLength, mode, &dib.info, &dib.bits,
                                       RecordProgress, reinterpret_cast<intptr_t>(&log));
    else
      dib.result = Plugin().getPictureW(source, offsetOrLength, mode, &dib.info, &dib.bits,
                                        RecordProgress, reinterpret_cast<intptr_t>(&log));
    if (dib.result == Ok)
      EXPECT_TRUE(testwpp::SameBytes(dib.bitsBytes(), dib.bitsSize(),
                                     testwpp::ReferenceDibBits(testwpp::RandomImage(11, 5))));
    else
      EXPECT_TRUE(dib.info == nullptr && dib.bits == nullptr) << "blocks after a failure";
    seen->progressCalls = log.calls.size();
    return dib.result;  // the Dib frees what was handed over
  }

  const char* memory() const { return reinterpret_cast<const char*>(image.data()); }
  int32_t length() const { return static_cast<int32_t>(image.size()); }

  Bytes image;
  std::unique_ptr<testwpp::TempFile> file;
  bool failedOpenGivesNull = false;
};

TEST_F(FaultSweep, PictureInfoInFileMode) {
  Sweep("GetPictureInfo, file", Then(kLoadHeader, {Step::TextBlock}),
        [&](Seen* seen) { return Info(file->path(), 0, kFileMode, seen); });
}

TEST_F(FaultSweep, PictureInfoInMemoryMode) {
  Sweep("GetPictureInfo, memory", {Step::TextBlock},
        [&](Seen* seen) { return Info(memory(), length(), kMemoryMode, seen); });
}

TEST_F(FaultSweep, PictureInFileMode) {
  Sweep("GetPicture, file", Then(kLoadImage, {Step::DibBlock, Step::DibBlock}),
        [&](Seen* seen) { return Picture(file->path(), 0, kFileMode, seen); });
}

TEST_F(FaultSweep, PictureByAWidePath) {
  testwpp::WideTempFile wide(u"sweep \u56fe.wpp", image);
  Sweep("GetPictureW, file", Then(kLoadImage, {Step::DibBlock, Step::DibBlock}),
        [&](Seen* seen) { return Picture(wide.path(), 0, kFileMode, seen); });
}

// Some hosts' stand-ins for the platform answer a failed open with null.
TEST_F(FaultSweep, AnOpenThatGivesNullIsAFailedOpen) {
  failedOpenGivesNull = true;
  Sweep("GetPictureInfo, file, null open", Then(kLoadHeader, {Step::TextBlock}),
        [&](Seen* seen) { return Info(file->path(), 0, kFileMode, seen); });
  Sweep("GetPicture, file, null open", Then(kLoadImage, {Step::DibBlock, Step::DibBlock}),
        [&](Seen* seen) { return Picture(file->path(), 0, kFileMode, seen); });
}

TEST_F(FaultSweep, PictureInMemoryMode) {
  Sweep("GetPicture, memory", {Step::DibBlock, Step::DibBlock},
        [&](Seen* seen) { return Picture(memory(), length(), kMemoryMode, seen); });
}

TEST_F(FaultSweep, SupportTestOnAHandle) {
  // A failed read is "not ours"; the handle stays open for the host either way.
  for (uint32_t k = 1; k <= 2; ++k) {
    SCOPED_TRACE("call " + std::to_string(k) + " fails");
    HANDLE handle = CreateFileA(file->path(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    const uint32_t blocks = PlatformLiveBlocks(), handles = PlatformOpenHandles();
    const uint32_t callsBefore = PlatformCallCount(PlatformCall::Any);
    PlatformFailCall(PlatformCall::Any, k);
    const int32_t supported = Plugin().isSupported(nullptr, handle);
    const uint32_t calls = PlatformCallCount(PlatformCall::Any) - callsBefore;
    PlatformClearFaults();
    EXPECT_EQ(calls, 1u) << "the support test makes exactly one read";
    EXPECT_EQ(supported, k == 1 ? 0 : 1);
    EXPECT_EQ(PlatformLiveBlocks(), blocks);
    EXPECT_EQ(PlatformOpenHandles(), handles);
    EXPECT_TRUE(CloseHandle(handle)) << "the support test closed the host's handle";
  }
}

}  // namespace
