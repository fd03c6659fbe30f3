// The platform's other misbehaviours, made on purpose through the platform
// layer (each failing call is the fault sweep's): reads that come back short,
// a file larger than any block, stops and refusals. Each gives its result and
// leaves no open handle and no live block behind.

#include <string.h>

#include <algorithm>

#include "platform/posix/fault_injection.h"
#include "tests/support/plugin_under_test.h"

using testwpp::Bytes;

namespace {

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    image = testwpp::EncodeWpp(testwpp::RandomImage(13, 7));
    file = std::make_unique<testwpp::TempFile>(image);
    blocksBefore = PlatformLiveBlocks();
    handlesBefore = PlatformOpenHandles();
  }
  void TearDown() override { PlatformClearFaults(); }
  void ExpectNothingHeld(const char* what) {
    EXPECT_EQ(PlatformLiveBlocks(), blocksBefore) << what << ": a block was left behind";
    EXPECT_EQ(PlatformOpenHandles(), handlesBefore) << what << ": a file was left open";
  }
  // GetPictureInfo's result on a file; the text it hands over is freed.
  PluginResult Info(const char* path, int32_t offset = 0) {
    PictureInfoRecord record;
    const PluginResult result = Plugin().getPictureInfo(path, offset, kFileMode, &record);
    if (result == Ok) GlobalFree(record.textHandle);
    return result;
  }
  Bytes image;
  std::unique_ptr<testwpp::TempFile> file;
  uint32_t blocksBefore = 0, handlesBefore = 0;
};

// A picture inside a container is read as far as the picture and no further:
// the information request reads its 24-byte header alone, and neither needs a
// block for the rest of the file, however large it is.
TEST_F(Faults, ReadsOnlyThePicturesBytesFromInsideALargerFile) {
  Bytes container(100 + image.size() + (1u << 20), 0x22);
  std::fill(container.begin(), container.begin() + 100, 0x11);
  std::copy(image.begin(), image.end(), container.begin() + 100);
  testwpp::TempFile inside(container);
  PlatformLimitBlockSize(image.size());  // no block for the rest of the file

  uint64_t before = PlatformBytesRead();
  PictureInfoRecord record;
  ASSERT_EQ(Plugin().getPictureInfo(inside.path(), 100, kFileMode, &record), Ok);
  EXPECT_EQ(PlatformBytesRead() - before, 24u);
  EXPECT_EQ(record.width, 13u);
  GlobalFree(record.textHandle);

  before = PlatformBytesRead();
  Dib dib;
  dib.result = Plugin().getPicture(inside.path(), 100, kFileMode, &dib.info, &dib.bits, nullptr, 0);
  EXPECT_EQ(dib.result, Ok);
  EXPECT_EQ(PlatformBytesRead() - before, image.size());
}

TEST_F(Faults, AFileThatShrinksIsJudgedByWhatArrived) {
  // The header read is the first; the picture's second read brings the rest.
  const DWORD rest = static_cast<DWORD>(image.size() - 24);
  struct Case {
    uint32_t read;
    DWORD delivered;
    PluginResult info, picture;
  } cases[] = {{1, 0, UnsupportedFormat, UnsupportedFormat},
               {1, 23, UnsupportedFormat, UnsupportedFormat},
               {1, 24, Ok, Ok},
               {2, 0, Ok, UnsupportedFormat},
               {2, rest - 1, Ok, UnsupportedFormat}};
  for (const Case& c : cases) {
    SCOPED_TRACE("read " + std::to_string(c.read) + " delivers " + std::to_string(c.delivered));
    PlatformShortenRead(c.read, c.delivered);
    EXPECT_EQ(Info(file->path()), c.info);
    {
      ProgressLog log;
      Dib dib;  // frees what was handed over before the count below
      PlatformShortenRead(c.read, c.delivered);
      dib.result = Plugin().getPicture(file->path(), 0, kFileMode, &dib.info, &dib.bits,
                                       RecordProgress, reinterpret_cast<intptr_t>(&log));
      EXPECT_EQ(dib.result, c.picture);
      EXPECT_EQ(log.calls.empty(), c.picture != Ok);
    }
    PlatformClearFaults();
    ExpectNothingHeld("short read");
  }
}

TEST_F(Faults, AnEarlyStopInFileModeFreesTheSourceBlock) {
  ProgressLog log;
  log.stopAtCall = 1;
  Dib dib;
  dib.result = Plugin().getPicture(file->path(), 0, kFileMode, &dib.info, &dib.bits, RecordProgress,
                                   reinterpret_cast<intptr_t>(&log));
  EXPECT_EQ(dib.result, Aborted);
  ExpectNothingHeld("early stop");
}

// Each file call failing alone, as its own kind: the picture calls say the
// file cannot be read, and the support test on a handle it cannot read says no.
TEST_F(Faults, EachFileCallFailingAloneIsAReadError) {
  for (PlatformCall call :
       {PlatformCall::Open, PlatformCall::Size, PlatformCall::Seek, PlatformCall::Read}) {
    PlatformFailCall(call, 1);
    EXPECT_EQ(Info(file->path()), ReadError) << "call kind " << int(call);
    PlatformFailCall(call, 1);
    Dib dib;
    dib.result = Plugin().getPicture(file->path(), 0, kFileMode, &dib.info, &dib.bits, nullptr, 0);
    EXPECT_EQ(dib.result, ReadError) << "call kind " << int(call);
    PlatformClearFaults();
    if (call == PlatformCall::Read) {
      HANDLE handle = CreateFileA(file->path(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
      PlatformFailCall(call, 1);
      EXPECT_EQ(Plugin().isSupported(file->path(), reinterpret_cast<const uint8_t*>(handle)), 0)
          << "call kind " << int(call);
      PlatformClearFaults();
      CloseHandle(handle);
    }
    ExpectNothingHeld("a failed file call");
  }
}

TEST_F(Faults, RefusalsInFileModeLeaveNothing) {
  testwpp::TempFile foreign(Bytes(300, 0x42));
  EXPECT_EQ(Info(foreign.path()), UnsupportedFormat);
  EXPECT_EQ(Info(file->path(), static_cast<int32_t>(image.size()) + 1), UnsupportedFormat);
  EXPECT_EQ(Info(file->path(), -1), UnsupportedFormat);
  // A header claiming far more than the file holds: refused before any block
  // is taken for what could never arrive.
  Bytes cut = testwpp::HeaderOnly(2u * 4096 * 4096 + 4, 4096, 4096);
  cut.resize(cut.size() + 10, 0x33);
  testwpp::TempFile cutFile(cut);
  const uint32_t allocationsBefore = PlatformCallCount(PlatformCall::Alloc);
  Dib dib;
  dib.result = Plugin().getPicture(cutFile.path(), 0, kFileMode, &dib.info, &dib.bits, nullptr, 0);
  EXPECT_EQ(dib.result, UnsupportedFormat);
  EXPECT_EQ(PlatformCallCount(PlatformCall::Alloc), allocationsBefore);
  ExpectNothingHeld("refusal");
}

}  // namespace
