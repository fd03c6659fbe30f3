// Real DIB consumers: GDI draws the plug-in's two blocks into a 32-bit DIB
// section, and every pixel must come out in the colour the image holds; and a
// viewer's display code copies biSizeImage bytes into a section made from our
// header, which must hold them all.

#include "tests/support/plugin_under_test.h"

namespace {

// Draws the DIB as a viewer would, with SetDIBitsToDevice, into pixels of
// 0x00RRGGBB, top row first.
bool DrawWithGdi(const Dib& dib, uint32_t width, uint32_t height, std::vector<uint32_t>* out) {
  BITMAPINFO target = {};
  target.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  target.bmiHeader.biWidth = static_cast<LONG>(width);
  target.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down, for easy reading
  target.bmiHeader.biPlanes = 1;
  target.bmiHeader.biBitCount = 32;
  target.bmiHeader.biCompression = BI_RGB;
  void* targetBits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP section = CreateDIBSection(dc, &target, DIB_RGB_COLORS, &targetBits, nullptr, 0);
  if (dc == nullptr || section == nullptr) return false;
  HGDIOBJ old = SelectObject(dc, section);
  const int lines = SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, dib.bits,
                                      static_cast<const BITMAPINFO*>(dib.info), DIB_RGB_COLORS);
  GdiFlush();
  const uint32_t* drawn = static_cast<const uint32_t*>(targetBits);
  out->assign(drawn, drawn + size_t{width} * height);
  SelectObject(dc, old);
  DeleteObject(section);
  DeleteDC(dc);
  return lines == static_cast<int>(height);
}

TEST(GdiDraw, DrawsEveryShapeInItsOwnColours) {
  const uint32_t sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {2, 2}, {3, 5}, {16, 9}, {33, 4}, {64, 3}};
  for (const auto& size : sizes) {
    const uint32_t width = size[0], height = size[1];
    const testwpp::ImageSpec wppImage = testwpp::RandomImage(width, height, width * 31 + height);
    Dib dib;
    PictureFromMemory(testwpp::EncodeWpp(wppImage), &dib);
    ASSERT_EQ(dib.result, Ok);
    std::vector<uint32_t> drawn;
    ASSERT_TRUE(DrawWithGdi(dib, width, height, &drawn)) << width << "x" << height;
    for (size_t i = 0; i < drawn.size(); ++i) {
      // GDI widens 5-bit channels to 8 bits; the top five bits of each are ours.
      const uint32_t have =
          (drawn[i] >> 9 & 0x7C00) | (drawn[i] >> 6 & 0x03E0) | (drawn[i] >> 3 & 0x1F);
      ASSERT_EQ(have, testwpp::ReferencePixel(wppImage.pixels[i]))
          << std::hex << wppImage.pixels[i] << " at " << std::dec << i % width << "," << i / width
          << " of " << width << "x" << height;
    }
  }
}

// What a real viewer does: a 16-bit DIB section of stride * height bytes from
// our header's width, height and depth, then biSizeImage bytes copied into
// it. A section's bits end where its last page ends, so for these sizes a
// byte too many faults at once.
TEST(GdiDraw, ASectionFromOurHeaderHoldsBiSizeImageBytes) {
  const uint32_t sizes[][2] = {{640, 480}, {1024, 768}, {4095, 3}, {1, 4096}, {8192, 2048}};
  for (const auto& size : sizes) {
    const testwpp::ImageSpec wppImage = testwpp::RandomImage(size[0], size[1], size[0] + size[1]);
    Dib dib;
    PictureFromMemory(testwpp::EncodeWpp(wppImage), &dib);
    ASSERT_EQ(dib.result, Ok);
    const auto* header = static_cast<const BITMAPINFO*>(dib.info);
    void* sectionBits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, header, DIB_RGB_COLORS, &sectionBits, nullptr, 0);
    ASSERT_NE(section, nullptr) << size[0] << "x" << size[1];
    const uint32_t sizeImage = header->bmiHeader.biSizeImage;
    EXPECT_EQ(sizeImage, testwpp::DibStride(size[0]) * size[1]);
    memcpy(sectionBits, dib.bits, sizeImage);
    testwpp::Bytes want = testwpp::ReferenceDibBits(wppImage);
    want.resize(sizeImage);
    EXPECT_TRUE(testwpp::SameBytes(static_cast<const uint8_t*>(sectionBits), sizeImage, want))
        << size[0] << "x" << size[1];
    DeleteObject(section);
  }
}

}  // namespace
