// Each failure of the platform, made on purpose through the platform layer,
// gives its result and leaves no open handle and no live block behind.

#include <string.h>

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

struct FaultCase {
  const char* what;
  PlatformCall call;
  uint32_t nth;
  PluginResult want;
};

constexpr FaultCase kSourceFaults[] = {
    {"open fails", PlatformCall::Open, 1, ReadError},
    {"size query fails", PlatformCall::Size, 1, ReadError},
    {"positioning fails", PlatformCall::Seek, 1, ReadError},
    {"source block cannot be had", PlatformCall::Alloc, 1, OutOfMemory},
    {"read fails", PlatformCall::Read, 1, ReadError},
};

TEST_F(Faults, EachSourceFailureOfPictureInfoHasItsResult) {
  for (const FaultCase& c : kSourceFaults) {
    uint8_t record[26];
    memset(record, 0xAB, sizeof record);
    PlatformFailCall(c.call, c.nth);
    EXPECT_EQ(Info(record), c.want) << c.what;
    for (uint8_t b : record) ASSERT_EQ(b, 0xAB) << c.what << ": the record was touched";
    ExpectNothingHeld(c.what);
    PlatformClearFaults();
  }
}

TEST_F(Faults, EachSourceFailureOfPictureHasItsResult) {
  for (const FaultCase& c : kSourceFaults) {
    ProgressLog log;
    Dib dib;
    PlatformFailCall(c.call, c.nth);
    dib.result =
        Plugin().getPicture(file->path(), 0, kFileMode, &dib.info, &dib.bits, RecordProgress,
                            static_cast<int32_t>(reinterpret_cast<intptr_t>(&log)));
    EXPECT_EQ(dib.result, c.want) << c.what;
    EXPECT_TRUE(log.calls.empty()) << c.what;
    EXPECT_EQ(dib.info, nullptr) << c.what;
    ExpectNothingHeld(c.what);
    PlatformClearFaults();
  }
}

TEST_F(Faults, AFailedTextBlockGivesOkWithANullHandle) {
  uint8_t record[26];
  PlatformFailCall(PlatformCall::Alloc, 2);  // the first is the source block
  EXPECT_EQ(Info(record), Ok);
  EXPECT_EQ(testwpp::ReadLe32(record + 22), 0u);
  EXPECT_EQ(testwpp::ReadLe32(record + 8), 13u);
  ExpectNothingHeld("text block");
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
  struct Case {
    DWORD delivered;
    PluginResult info, picture;
  } cases[] = {{0, UnsupportedFormat, UnsupportedFormat},
               {23, UnsupportedFormat, UnsupportedFormat},
               {24, Ok, UnsupportedFormat},
               {static_cast<DWORD>(image.size() - 1), Ok, UnsupportedFormat}};
  for (const Case& c : cases) {
    uint8_t record[26];
    PlatformShortenRead(1, c.delivered);
    const PluginResult info = Info(record);
    EXPECT_EQ(info, c.info) << c.delivered;
    if (info == Ok)
      GlobalFree(reinterpret_cast<void*>(static_cast<uintptr_t>(testwpp::ReadLe32(record + 22))));
    ProgressLog log;
    Dib dib;
    PlatformShortenRead(1, c.delivered);
    dib.result =
        Plugin().getPicture(file->path(), 0, kFileMode, &dib.info, &dib.bits, RecordProgress,
                            static_cast<int32_t>(reinterpret_cast<intptr_t>(&log)));
    EXPECT_EQ(dib.result, c.picture) << c.delivered;
    EXPECT_TRUE(log.calls.empty());
    ExpectNothingHeld("short read");
  }
}

TEST_F(Faults, AnEarlyStopInFileModeFreesTheSourceBlock) {
  ProgressLog log;
  log.stopAtCall = 1;
  Dib dib;
  dib.result = Plugin().getPicture(file->path(), 0, kFileMode, &dib.info, &dib.bits, RecordProgress,
                                   static_cast<int32_t>(reinterpret_cast<intptr_t>(&log)));
  EXPECT_EQ(dib.result, Aborted);
  ExpectNothingHeld("early stop");
}

TEST_F(Faults, RefusalsInFileModeLeaveNothing) {
  testwpp::TempFile foreign(Bytes(300, 0x42));
  uint8_t record[26];
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
