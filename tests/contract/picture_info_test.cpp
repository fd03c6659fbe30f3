#include <string.h>

#include <fstream>

#include "tests/support/plugin_under_test.h"
#include "wpp/bytes.h"

using testwpp::Bytes;

namespace {

// The record as the host holds it: 26 raw bytes (32 at 64 bits), pre-filled
// with a marker, as hosts fill it with 0x7F to see what was written.
struct RawRecord {
  uint8_t bytes[sizeof(PictureInfoRecord)];
  RawRecord() { memset(bytes, 0x7F, sizeof bytes); }
  PictureInfoRecord* record() { return reinterpret_cast<PictureInfoRecord*>(bytes); }
  bool untouched() const {
    for (uint8_t b : bytes)
      if (b != 0x7F) return false;
    return true;
  }
  uint32_t at32(size_t offset) const { return wpp::LoadLe32(bytes + offset); }
  uint16_t at16(size_t offset) const { return wpp::LoadLe16(bytes + offset); }
  char* text() const {
    uint64_t handle = 0;
    for (size_t i = 0; i < sizeof(void*); ++i)
      handle |= uint64_t{bytes[kTextHandleOffset + i]} << (8 * i);
    return reinterpret_cast<char*>(static_cast<uintptr_t>(handle));
  }
  void freeText() {
    if (text() != nullptr) GlobalFree(text());
  }
};

void ExpectRecordFor(const RawRecord& raw, uint32_t width, uint32_t height) {
  EXPECT_EQ(raw.at32(0), 0u);
  EXPECT_EQ(raw.at32(4), 0u);
  EXPECT_EQ(raw.at32(8), width);
  EXPECT_EQ(raw.at32(12), height);
  EXPECT_EQ(raw.at16(16), 0u);
  EXPECT_EQ(raw.at16(18), 0u);
  EXPECT_EQ(raw.at16(20), 16u);
  for (size_t i = 22; i < kTextHandleOffset; ++i) EXPECT_EQ(raw.bytes[i], 0) << "padding " << i;
  ASSERT_NE(raw.text(), nullptr) << "textHandle belongs at offset " << kTextHandleOffset;
  EXPECT_STREQ(raw.text(), "zorplex sample");
  // The fixed 256-byte block holds nothing after the text but zeros.
  ASSERT_GE(GlobalSize(raw.text()), 256u);
  for (size_t i = 14; i < 256; ++i) ASSERT_EQ(raw.text()[i], 0) << "text block byte " << i;
}

TEST(PictureInfo, DescribesAnImageInMemoryAndInAFile) {
  const Bytes image = testwpp::EncodeWpp(testwpp::RandomImage(320, 240));
  RawRecord fromMemory, fromFile;
  ASSERT_EQ(
      Plugin().getPictureInfo(MemoryOf(image), LengthOf(image), kMemoryMode, fromMemory.record()),
      Ok);
  ExpectRecordFor(fromMemory, 320, 240);
  testwpp::TempFile file(image);
  ASSERT_EQ(Plugin().getPictureInfo(file.path(), 0, kFileMode, fromFile.record()), Ok);
  ExpectRecordFor(fromFile, 320, 240);
  // Same fields; each call hands over a text block of its own.
  EXPECT_EQ(memcmp(fromMemory.bytes, fromFile.bytes, kTextHandleOffset), 0);
  EXPECT_NE(fromMemory.text(), fromFile.text());
  fromMemory.freeText();
  fromFile.freeText();
}

TEST(PictureInfo, ZeroExtendsTheLargestDimensions) {
  // The header alone is enough to describe a picture.
  const Bytes head = testwpp::HeaderOnly(2u * 65535 * 3 + 4, 65535, 3);
  RawRecord raw;
  ASSERT_EQ(Plugin().getPictureInfo(MemoryOf(head), 24, kMemoryMode, raw.record()), Ok);
  ExpectRecordFor(raw, 65535, 3);
  raw.freeText();
}

TEST(PictureInfo, OnlyTheLowThreeModeBitsCount) {
  const Bytes image = testwpp::EncodeWpp(testwpp::RandomImage(7, 2));
  testwpp::TempFile file(image);
  for (uint32_t mode : {1u, 2u, 4u, 7u, 0xFFFFFFF9u, 0x80000001u}) {
    RawRecord raw;
    ASSERT_EQ(Plugin().getPictureInfo(MemoryOf(image), LengthOf(image), mode, raw.record()), Ok)
        << "memory mode " << mode;
    raw.freeText();
  }
  for (uint32_t mode : {0u, 8u, 0xFFFFFFF8u}) {
    RawRecord raw;
    ASSERT_EQ(Plugin().getPictureInfo(file.path(), 0, mode, raw.record()), Ok)
        << "file mode " << mode;
    raw.freeText();
  }
}

TEST(PictureInfo, FindsAnImageAtAnOffset) {
  Bytes container(100, 0x11);
  const Bytes image = testwpp::EncodeWpp(testwpp::RandomImage(5, 4));
  container.insert(container.end(), image.begin(), image.end());
  testwpp::TempFile file(container);
  RawRecord found, refused;
  ASSERT_EQ(Plugin().getPictureInfo(file.path(), 100, kFileMode, found.record()), Ok);
  ExpectRecordFor(found, 5, 4);
  found.freeText();
  EXPECT_EQ(Plugin().getPictureInfo(file.path(), 0, kFileMode, refused.record()),
            UnsupportedFormat);
  EXPECT_TRUE(refused.untouched());
}

// Every refusal leaves all 26 bytes of the record as they were.
TEST(PictureInfo, RefusesBadSourcesWithoutTouchingTheRecord) {
  const Bytes image = testwpp::EncodeWpp(testwpp::RandomImage(4, 4));
  const int32_t size = static_cast<int32_t>(image.size());
  testwpp::TempFile file(image);
  testwpp::TempFile foreign(Bytes(200, 0x42));
  testwpp::TempFile tiny(Bytes(image.begin(), image.begin() + 23));
  const std::string missing = testwpp::MissingPath();
  const char* memory = MemoryOf(image);
  const Bytes foreignBytes(64, 0x42);

  const SourceCase cases[] = {
      {"missing file", missing.c_str(), 0, kFileMode, ReadError},
      {"offset one past the end", file.path(), size + 1, kFileMode, UnsupportedFormat},
      {"offset at the end", file.path(), size, kFileMode, UnsupportedFormat},
      {"fewer than 24 bytes after the offset", file.path(), size - 23, kFileMode,
       UnsupportedFormat},
      {"negative offset", file.path(), -1, kFileMode, UnsupportedFormat},
      {"most negative offset", file.path(), INT32_MIN, kFileMode, UnsupportedFormat},
      {"foreign file", foreign.path(), 0, kFileMode, UnsupportedFormat},
      {"file of 23 bytes", tiny.path(), 0, kFileMode, UnsupportedFormat},
      {"null path", nullptr, 0, kFileMode, ReadError},
      {"null address", nullptr, size, kMemoryMode, UnsupportedFormat},
      {"negative length", memory, -1, kMemoryMode, UnsupportedFormat},
      {"length 23", memory, 23, kMemoryMode, UnsupportedFormat},
      {"foreign memory", MemoryOf(foreignBytes), 64, kMemoryMode, UnsupportedFormat},
  };
  for (const SourceCase& c : cases) {
    RawRecord raw;
    EXPECT_EQ(Plugin().getPictureInfo(c.source, c.offsetOrLength, c.mode, raw.record()), c.want)
        << c.what;
    EXPECT_TRUE(raw.untouched()) << c.what;
  }
  EXPECT_EQ(Plugin().getPictureInfo(file.path(), 0, kFileMode, nullptr), UnsupportedFormat);
}

// Counts past 32 bits: the 64-bit contract carries them whole, where a host
// value cut to 32 bits would refuse these; the 32-bit one must still see a
// file's high word, or a picture 4 GiB from the end would look close to it.
TEST(PictureInfo, CountsPastThirtyTwoBits) {
  const Bytes image = testwpp::EncodeWpp(testwpp::RandomImage(6, 3));
  const bool wide = sizeof(void*) == 8;
  if (wide) {
    // A length whose low 32 bits are 10: only the picture's bytes are read.
    const intptr_t length = static_cast<intptr_t>((uint64_t{1} << 32) + 10);
    RawRecord inMemory;
    ASSERT_EQ(Plugin().getPictureInfo(MemoryOf(image), length, kMemoryMode, inMemory.record()), Ok);
    inMemory.freeText();
  }
  // A picture 100 bytes past 4 GiB into a sparse file, and one at 100 with 4
  // GiB after it. At 32 bits the first lies past any offset, and the rest
  // after the second is past any count: refused, never read from the low word.
  testwpp::TempFile sparse(image, uint64_t{1} << 32 | 100);
  testwpp::TempFile longTail(Bytes(1, 0xEE), (uint64_t{1} << 32) + 200);
  {
    std::fstream out(longTail.path(), std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(100);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    ASSERT_TRUE(out.good());
  }
  const struct {
    const char* what;
    const char* path;
    int64_t offset;
  } cases[] = {{"picture at 4 GiB + 100", sparse.path(), (int64_t{1} << 32) + 100},
               {"4 GiB after the picture", longTail.path(), 100}};
  for (const auto& c : cases) {
    if (!wide && c.offset > INTPTR_MAX) continue;
    const PluginResult want = wide ? Ok : UnsupportedFormat;
    RawRecord inFile;
    ASSERT_EQ(Plugin().getPictureInfo(c.path, static_cast<intptr_t>(c.offset), kFileMode,
                                      inFile.record()),
              want)
        << c.what;
    if (wide) {
      ExpectRecordFor(inFile, 6, 3);
      inFile.freeText();
    } else {
      EXPECT_TRUE(inFile.untouched()) << c.what;
    }
    Dib dib;
    dib.result = Plugin().getPicture(c.path, static_cast<intptr_t>(c.offset), kFileMode, &dib.info,
                                     &dib.bits, nullptr, 0);
    EXPECT_EQ(dib.result, want) << c.what;
  }
}

// Some hosts load and free the plug-in for every file they show.
TEST(PictureInfo, SurvivesBeingLoadedAndFreedForEveryFile) {
  const Bytes image = testwpp::EncodeWpp(testwpp::RandomImage(4, 4));
  // Let go of the program's own load, so that every round maps the file afresh.
  LoadedPlugin& shared = const_cast<LoadedPlugin&>(Plugin());
  UnloadPlugin(&shared);
  for (int round = 0; round < 100; ++round) {
    LoadedPlugin again;
    std::string error;
    ASSERT_TRUE(LoadPlugin(PluginPath(), &again, &error)) << error;
    RawRecord raw;
    EXPECT_EQ(again.getPictureInfo(MemoryOf(image), LengthOf(image), kMemoryMode, raw.record()),
              Ok);
    raw.freeText();
    UnloadPlugin(&again);
  }
  std::string error;
  ASSERT_TRUE(LoadPlugin(PluginPath(), &shared, &error)) << error;
}

}  // namespace
