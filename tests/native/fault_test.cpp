// Each failure of the platform, made on purpose through the platform layer,
// gives its result and leaves no open handle and no live block behind.

#include <string.h>

#include <algorithm>

#include "platform/posix/fault_injection.h"
#include "tests/contract/contract.h"

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
  PluginResult Info(uint8_t* record) {
    return Plugin().getPictureInfo(file->path(), 0, kFileMode,
                                   reinterpret_cast<PictureInfoRecord*>(record));
  }
  Bytes image;
  std::unique_ptr<testwpp::TempFile> file;
  uint32_t blocksBefore = 0, handlesBefore = 0;
};

// Each failure on the way to the image's bytes, and what each request gives
// for it; NotImplemented where the request makes no such call.
struct FaultCase {
  const char* what;
  PlatformCall call;
  uint32_t nth;
  PluginResult info, picture;
  bool nullHandle = false;  // the failed open gives null, not INVALID_HANDLE_VALUE
};

constexpr FaultCase kSourceFaults[] = {
    {"open fails", PlatformCall::Open, 1, ReadError, ReadError},
    {"open fails with a null handle", PlatformCall::Open, 1, ReadError, ReadError, true},
    {"size query fails", PlatformCall::Size, 1, ReadError, ReadError},
    {"positioning fails", PlatformCall::Seek, 1, ReadError, ReadError},
    {"header read fails", PlatformCall::Read, 1, ReadError, ReadError},
    {"image read fails", PlatformCall::Read, 2, NotImplemented, ReadError},
    {"source block cannot be had", PlatformCall::Alloc, 1, NotImplemented, OutOfMemory},
};

// Plans the failure; the open failing with null is followed by no other call.
void PlanFault(const FaultCase& c) {
  PlatformFailCall(c.call, c.nth);
  PlatformFailedOpenGivesNull(c.nullHandle);
}

TEST_F(Faults, EachSourceFailureOfPictureInfoHasItsResult) {
  for (const FaultCase& c : kSourceFaults) {
    if (c.info == NotImplemented) continue;
    uint8_t record[sizeof(PictureInfoRecord)];
    memset(record, 0x7F, sizeof record);
    const uint32_t sizeCalls = PlatformCallCount(PlatformCall::Size);
    PlanFault(c);
    EXPECT_EQ(Info(record), c.info) << c.what;
    for (uint8_t b : record) ASSERT_EQ(b, 0x7F) << c.what << ": the record was touched";
    if (c.call == PlatformCall::Open) {
      EXPECT_EQ(PlatformCallCount(PlatformCall::Size), sizeCalls) << c.what << ": used the handle";
    }
    ExpectNothingHeld(c.what);
    PlatformClearFaults();
  }
}

TEST_F(Faults, EachSourceFailureOfPictureHasItsResult) {
  for (const FaultCase& c : kSourceFaults) {
    ProgressLog log;
    Dib dib;
    PlanFault(c);
    dib.result = Plugin().getPicture(file->path(), 0, kFileMode, &dib.info, &dib.bits,
                                     RecordProgress, reinterpret_cast<intptr_t>(&log));
    EXPECT_EQ(dib.result, c.picture) << c.what;
    EXPECT_TRUE(log.calls.empty()) << c.what;
    EXPECT_EQ(dib.info, nullptr) << c.what;
    ExpectNothingHeld(c.what);
    PlatformClearFaults();
  }
}

TEST_F(Faults, AFailedTextBlockGivesOkWithANullHandle) {
  PictureInfoRecord record;
  PlatformFailCall(PlatformCall::Alloc, 1);  // no source block is needed for the header
  EXPECT_EQ(Info(reinterpret_cast<uint8_t*>(&record)), Ok);
  EXPECT_EQ(record.textHandle, nullptr);
  EXPECT_EQ(record.width, 13u);
  ExpectNothingHeld("text block");
}

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

TEST_F(Faults, AFailedDibBlockInFileModeLeavesNothing) {
  for (uint32_t nth : {2u, 3u}) {  // header block, bits block
    Dib dib;
    PlatformFailCall(PlatformCall::Alloc, nth);
    dib.result = Plugin().getPicture(file->path(), 0, kFileMode, &dib.info, &dib.bits, nullptr, 0);
    EXPECT_EQ(dib.result, OutOfMemory) << nth;
    EXPECT_EQ(dib.info, nullptr);
    EXPECT_EQ(dib.bits, nullptr);
    ExpectNothingHeld("DIB block");
  }
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
    PictureInfoRecord record;
    PlatformShortenRead(c.read, c.delivered);
    const PluginResult info = Info(reinterpret_cast<uint8_t*>(&record));
    EXPECT_EQ(info, c.info);
    if (info == Ok) GlobalFree(record.textHandle);
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

TEST_F(Faults, RefusalsInFileModeLeaveNothing) {
  testwpp::TempFile foreign(Bytes(300, 0x42));
  uint8_t record[sizeof(PictureInfoRecord)];
  EXPECT_EQ(Plugin().getPictureInfo(foreign.path(), 0, kFileMode,
                                    reinterpret_cast<PictureInfoRecord*>(record)),
            UnsupportedFormat);
  EXPECT_EQ(Plugin().getPictureInfo(file->path(), static_cast<int32_t>(image.size()) + 1, kFileMode,
                                    reinterpret_cast<PictureInfoRecord*>(record)),
            UnsupportedFormat);
  EXPECT_EQ(Plugin().getPictureInfo(file->path(), -1, kFileMode,
                                    reinterpret_cast<PictureInfoRecord*>(record)),
            UnsupportedFormat);
  ExpectNothingHeld("refusal");
}

}  // namespace
