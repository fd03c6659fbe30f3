// Every one-byte change of a valid image's header and every truncation of
// it, in both modes: each gives exactly the result an independent reading of
// the bytes predicts, with the right picture when it is Ok.

#include <string.h>

#include "tests/support/plugin_under_test.h"
#include "wpp/bytes.h"

using testwpp::Bytes;

namespace {

// What the bytes at hand should give, read from the format's definition.
struct Expected {
  bool headerValid = false;  // the support test and GetPictureInfo accept it
  bool pictureOk = false;    // GetPicture gives a picture
  testwpp::ImageSpec image;  // that picture, when pictureOk
};

Expected Predict(const Bytes& bytes) {
  Expected e;
  if (bytes.size() < 24) return e;
  const uint64_t dataLength = wpp::LoadLe32(&bytes[16]);
  const uint32_t width = wpp::LoadLe16(&bytes[20]);
  const uint32_t height = wpp::LoadLe16(&bytes[22]);
  e.headerValid = width != 0 && height != 0 && dataLength == 2ull * width * height + 4;
  e.pictureOk = e.headerValid && bytes.size() >= 20 + dataLength;
  if (e.pictureOk) {
    e.image.width = width;
    e.image.height = height;
    for (uint64_t i = 0; i < uint64_t{width} * height; ++i)
      e.image.pixels.push_back(wpp::LoadLe16(&bytes[24 + 2 * i]));
  }
  return e;
}

// Runs the entry points on the bytes in one mode and checks each result.
void Check(const Bytes& bytes, bool inFile, const std::string& what) {
  SCOPED_TRACE(what + (inFile ? " (file)" : " (memory)"));
  const Expected e = Predict(bytes);
  // In memory only the bytes at hand exist, ending at a page's end, so a
  // read of one byte past them faults.
  const testwpp::PageEndCopy exact(bytes);
  std::unique_ptr<testwpp::TempFile> file;
  if (inFile) file = std::make_unique<testwpp::TempFile>(bytes);
  const char* source = inFile ? file->path() : reinterpret_cast<const char*>(exact.data());
  const int32_t offsetOrLength = inFile ? 0 : static_cast<int32_t>(bytes.size());
  const uint32_t mode = inFile ? kFileMode : kMemoryMode;

  if (!inFile && bytes.size() >= 24) {
    EXPECT_EQ(Plugin().isSupported(nullptr, exact.data()), e.headerValid ? 1 : 0);
  }

  PictureInfoRecord info;
  memset(&info, 0, sizeof info);
  const PluginResult infoResult = Plugin().getPictureInfo(source, offsetOrLength, mode, &info);
  EXPECT_EQ(infoResult, e.headerValid ? Ok : UnsupportedFormat);
  if (infoResult == Ok) {
    EXPECT_EQ(info.width, wpp::LoadLe16(&bytes[20]));
    EXPECT_EQ(info.height, wpp::LoadLe16(&bytes[22]));
    if (info.textHandle != nullptr) GlobalFree(info.textHandle);
  }

  Dib dib;
  dib.result = Plugin().getPicture(source, offsetOrLength, mode, &dib.info, &dib.bits, nullptr, 0);
  EXPECT_EQ(dib.result, e.pictureOk ? Ok : UnsupportedFormat);
  if (dib.result == Ok && e.pictureOk) {
    EXPECT_TRUE(testwpp::SameBytes(dib.infoBytes(), 40, testwpp::ReferenceInfoHeader(e.image)));
    EXPECT_TRUE(
        testwpp::SameBytes(dib.bitsBytes(), dib.bitsSize(), testwpp::ReferenceDibBits(e.image)));
  } else {
    EXPECT_EQ(dib.info, nullptr);
    EXPECT_EQ(dib.bits, nullptr);
  }
}

// Odd and even widths, a single pixel, a single column.
const testwpp::ImageSpec kImages[] = {testwpp::RandomImage(3, 2, 7), testwpp::RandomImage(4, 1, 8),
                                      testwpp::RandomImage(1, 1, 9),
                                      testwpp::RandomImage(1, 3, 10)};

TEST(Mutation, EveryHeaderByteFlippedZeroedOrSet) {
  for (const testwpp::ImageSpec& image : kImages) {
    const Bytes valid = testwpp::EncodeWpp(image);
    for (size_t at = 0; at < 24; ++at) {
      const uint8_t values[] = {static_cast<uint8_t>(valid[at] ^ 0xFF), 0, 0xFF};
      const char* kinds[] = {" flipped", " zeroed", " set"};
      for (int kind = 0; kind < 3; ++kind) {
        Bytes bytes = valid;
        bytes[at] = values[kind];
        const std::string what = std::to_string(image.width) + "x" + std::to_string(image.height) +
                                 " byte " + std::to_string(at) + kinds[kind];
        Check(bytes, false, what);
        Check(bytes, true, what);
        if (HasFailure()) return;  // one broken case says enough
      }
    }
  }
}

TEST(Mutation, EveryTruncation) {
  for (const testwpp::ImageSpec& image : kImages) {
    const Bytes valid = testwpp::EncodeWpp(image);
    for (size_t length = 0; length <= valid.size(); ++length) {
      const Bytes bytes(valid.begin(), valid.begin() + length);
      const std::string what = std::to_string(image.width) + "x" + std::to_string(image.height) +
                               " cut to " + std::to_string(length);
      Check(bytes, false, what);
      Check(bytes, true, what);
      if (HasFailure()) return;
    }
  }
}

}  // namespace
