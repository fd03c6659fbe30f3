#include <string.h>

#include <memory>

#include "tests/support/plugin_under_test.h"
#include "wpp/bytes.h"

using testwpp::Bytes;
using testwpp::ImageSpec;

namespace {

void ExpectDibOf(const ImageSpec& wppImage, const Dib& dib) {
  ASSERT_EQ(dib.result, Ok);
  ASSERT_NE(dib.info, nullptr);
  ASSERT_NE(dib.bits, nullptr);
  EXPECT_TRUE(testwpp::SameBytes(dib.infoBytes(), 40, testwpp::ReferenceInfoHeader(wppImage)))
      << wppImage.width << "x" << wppImage.height;
  const Bytes want = testwpp::ReferenceDibBits(wppImage);
  EXPECT_EQ(dib.bitsSize(), want.size());
  EXPECT_TRUE(testwpp::SameBytes(dib.bitsBytes(), want.size(), want))
      << wppImage.width << "x" << wppImage.height;
}

TEST(Picture, ConvertsSinglePixels) {
  const uint16_t cases[][2] = {{0xFFFF, 0x7FFF}, {0xF800, 0x7C00}, {0x07E0, 0x03E0},
                               {0x001F, 0x001F}, {0x0020, 0x0000}, {0x0000, 0x0000}};
  for (const auto& c : cases) {
    const ImageSpec wppImage{.width = 2, .height = 1, .pixels = {c[0], c[0]}};
    Dib dib;
    PictureFromMemory(testwpp::EncodeWpp(wppImage), &dib);
    ASSERT_EQ(dib.result, Ok);
    EXPECT_EQ(wpp::LoadLe16(dib.bitsBytes()), c[1]) << std::hex << c[0];
  }
}

TEST(Picture, PutsTheBottomRowFirst) {
  // P Q on top, R S below
  const ImageSpec wppImage{.width = 2, .height = 2, .pixels = {0xF800, 0x07E0, 0x001F, 0xFFFF}};
  Dib dib;
  PictureFromMemory(testwpp::EncodeWpp(wppImage), &dib);
  ASSERT_EQ(dib.result, Ok);
  EXPECT_EQ(wpp::LoadLe32(dib.infoBytes() + 20), 8u) << "biSizeImage counts the rows alone";
  EXPECT_EQ(dib.bitsSize(), 12u);
  const uint16_t want[] = {0x001F, 0x7FFF, 0x7C00, 0x03E0};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(wpp::LoadLe16(dib.bitsBytes() + 2 * i), want[i]) << i;
}

// Every width from 1 to 67 crosses every vector tail length of every path.
TEST(Picture, ConvertsEveryWidthInBothModes) {
  for (uint32_t width = 1; width <= 67; ++width) {
    for (uint32_t height : {1u, 3u}) {
      const ImageSpec wppImage = testwpp::RandomImage(width, height, width * 7 + height);
      const Bytes image = testwpp::EncodeWpp(wppImage);
      Dib fromMemory, fromFile;
      PictureFromMemory(image, &fromMemory);
      PictureFromFile(image, &fromFile);
      ExpectDibOf(wppImage, fromMemory);
      ExpectDibOf(wppImage, fromFile);
    }
  }
}

TEST(Picture, ConvertsLargeAndLopsidedPictures) {
  const uint32_t sizes[][2] = {{1, 300}, {300, 1}, {1023, 17}, {4096, 3}, {4095, 5}, {640, 480}};
  for (const auto& size : sizes) {
    const ImageSpec wppImage = testwpp::RandomImage(size[0], size[1], size[0]);
    Dib dib;
    PictureFromFile(testwpp::EncodeWpp(wppImage), &dib);
    ExpectDibOf(wppImage, dib);
  }
}

TEST(Picture, AcceptsHostBlocksLongerThanTheImage) {
  const ImageSpec wppImage = testwpp::RandomImage(9, 9);
  Bytes padded = testwpp::EncodeWpp(wppImage);
  padded.resize(2048, 0);
  Dib dib;
  PictureFromMemory(padded, &dib);
  ExpectDibOf(wppImage, dib);
}

TEST(Picture, ReportsProgressBeforeAndAfterWithTheHostsData) {
  ProgressLog log;
  const intptr_t userData = reinterpret_cast<intptr_t>(&log);
  Dib dib;
  PictureFromFile(testwpp::EncodeWpp(testwpp::RandomImage(33, 9)), &dib, RecordProgress, userData);
  EXPECT_EQ(dib.result, Ok);
  ASSERT_EQ(log.calls.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(log.calls[i].numerator, i);
    EXPECT_EQ(log.calls[i].denominator, 1);
    EXPECT_EQ(log.calls[i].userData, userData);
  }
}

// Every bit of the host's value comes back, whatever the width.
intptr_t userDataSeen = 0;
int32_t WPP_CALL KeepUserData(int32_t, int32_t, intptr_t userData) {
  userDataSeen = userData;
  return 0;
}

TEST(Picture, GivesTheHostsDataBackWhole) {
  const intptr_t userData =
      static_cast<intptr_t>(sizeof(void*) == 8 ? 0x7EDCBA9876543210 : 0x76543210);
  Dib dib;
  PictureFromMemory(testwpp::EncodeWpp(testwpp::RandomImage(3, 3)), &dib, KeepUserData, userData);
  EXPECT_EQ(dib.result, Ok);
  EXPECT_EQ(userDataSeen, userData);
}

TEST(Picture, StopsWhenTheFirstProgressCallSaysSo) {
  const Bytes image = testwpp::EncodeWpp(testwpp::RandomImage(8, 8));
  for (bool fromFile : {false, true}) {
    ProgressLog log;
    log.stopAtCall = 1;
    Dib dib;
    BlockHandle sentinel = reinterpret_cast<BlockHandle>(0x5EED);
    dib.info = dib.bits = sentinel;
    const intptr_t userData = reinterpret_cast<intptr_t>(&log);
    (fromFile ? PictureFromFile : PictureFromMemory)(image, &dib, RecordProgress, userData);
    EXPECT_EQ(dib.result, Aborted);
    EXPECT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(dib.info, sentinel) << "slots are untouched on an early stop";
    EXPECT_EQ(dib.bits, sentinel);
    dib.info = dib.bits = nullptr;
  }
}

TEST(Picture, LeavesBothFilledBlocksWhenTheLastProgressCallStops) {
  const ImageSpec wppImage = testwpp::RandomImage(11, 6);
  ProgressLog log;
  log.stopAtCall = 2;
  Dib dib;
  PictureFromMemory(testwpp::EncodeWpp(wppImage), &dib, RecordProgress,
                    reinterpret_cast<intptr_t>(&log));
  EXPECT_EQ(log.calls.size(), 2u);
  ASSERT_EQ(dib.result, Aborted);
  dib.result = Ok;
  ExpectDibOf(wppImage, dib);
}

TEST(Picture, RefusesShortAndForeignSourcesWithoutProgressOrBlocks) {
  const Bytes image = testwpp::EncodeWpp(testwpp::RandomImage(10, 10));
  const Bytes shortImage(image.begin(), image.end() - 1);
  const std::string missing = testwpp::MissingPath();
  testwpp::TempFile truncated(shortImage);
  testwpp::TempFile foreign(Bytes(500, 0x42));
  const SourceCase cases[] = {
      {"memory one byte short", MemoryOf(image), static_cast<int32_t>(image.size() - 1),
       kMemoryMode, UnsupportedFormat},
      {"memory of a header only", MemoryOf(image), 24, kMemoryMode, UnsupportedFormat},
      {"file one byte short", truncated.path(), 0, kFileMode, UnsupportedFormat},
      {"foreign file", foreign.path(), 0, kFileMode, UnsupportedFormat},
      {"missing file", missing.c_str(), 0, kFileMode, ReadError},
      {"negative offset", truncated.path(), -4, kFileMode, UnsupportedFormat},
  };
  for (const SourceCase& c : cases) {
    ProgressLog log;
    Dib dib;
    BlockHandle sentinel = reinterpret_cast<BlockHandle>(0x5EED);
    dib.info = dib.bits = sentinel;
    dib.result = Plugin().getPicture(c.source, c.offsetOrLength, c.mode, &dib.info, &dib.bits,
                                     RecordProgress, reinterpret_cast<intptr_t>(&log));
    EXPECT_EQ(dib.result, c.want) << c.what;
    EXPECT_TRUE(log.calls.empty()) << c.what;
    EXPECT_EQ(dib.info, sentinel) << c.what;
    EXPECT_EQ(dib.bits, sentinel) << c.what;
    dib.info = dib.bits = nullptr;
  }
  BlockHandle slot = nullptr;
  EXPECT_EQ(Plugin().getPicture(MemoryOf(image), LengthOf(image), kMemoryMode, &slot, nullptr,
                                nullptr, 0),
            UnsupportedFormat);
  EXPECT_EQ(slot, nullptr);
}

// Files whose names no single ANSI code page spells, through the wide entry
// points: the same record and DIB as the 8-bit ones give for an ASCII copy,
// and the file closed afterwards. A missing or malformed UTF-16 path is a
// failed open, with no progress call.
TEST(Picture, WideEntryPointsOpenEveryName) {
  ASSERT_TRUE(Plugin().hasWide());
  const ImageSpec wppImage = testwpp::RandomImage(21, 5);
  const Bytes image = testwpp::EncodeWpp(wppImage);
  testwpp::TempFile ascii(image);
  PictureInfoRecord narrowInfo;
  ASSERT_EQ(Plugin().getPictureInfo(ascii.path(), 0, kFileMode, &narrowInfo), Ok);
  GlobalFree(narrowInfo.textHandle);
  struct Case {
    const char* what;
    std::u16string name;
    bool present;
    PluginResult want;
  } cases[] = {
      {"CJK", u"\u56fe\u50cf.wpp", true, Ok},
      {"a letter outside Latin-1", u"\u0141\u00f3d\u017a.wpp", true, Ok},
      {"an emoji, a surrogate pair", u"\U0001F5BC picture.wpp", true, Ok},
      {"missing", u"\u7f3a\u5931.wpp", false, ReadError},
      {"an unpaired surrogate", std::u16string(u"bad") + char16_t{0xD800} + u".wpp", false,
       ReadError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<testwpp::WideTempFile> file;
    if (c.present) file = std::make_unique<testwpp::WideTempFile>(c.name, image);
    PictureInfoRecord info;
    memset(&info, 0x7F, sizeof info);
    ASSERT_EQ(Plugin().getPictureInfoW(c.name.c_str(), 0, kFileMode, &info), c.want);
    if (c.want == Ok) {
      EXPECT_EQ(memcmp(&info, &narrowInfo, kTextHandleOffset), 0);
      EXPECT_STREQ(static_cast<const char*>(info.textHandle), "zorplex sample");
      GlobalFree(info.textHandle);
    }
    ProgressLog log;
    Dib dib;
    dib.result = Plugin().getPictureW(c.name.c_str(), 0, kFileMode, &dib.info, &dib.bits,
                                      RecordProgress, reinterpret_cast<intptr_t>(&log));
    EXPECT_EQ(dib.result, c.want);
    if (c.want == Ok)
      ExpectDibOf(wppImage, dib);
    else
      EXPECT_TRUE(log.calls.empty());
    if (file) {
      EXPECT_TRUE(file->Remove()) << "the file was left open";
    }
  }
  // In memory mode the wide entry points take the address as it is.
  Dib dib;
  dib.result = Plugin().getPictureW(reinterpret_cast<const char16_t*>(image.data()),
                                    static_cast<intptr_t>(image.size()), kMemoryMode, &dib.info,
                                    &dib.bits, nullptr, 0);
  ExpectDibOf(wppImage, dib);
}

}  // namespace
