// The BMP file that wpp2bmp writes: a 14-byte file header, then the plug-in's
// BITMAPINFOHEADER block and its bits block, both unchanged.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <filesystem>
#include <string>

// The BITMAPFILEHEADER in front of the two blocks.
constexpr uint32_t kBmpFileHeaderSize = 14;

// Fills it: "BM", the file's size, two reserved zeros and the offset of the
// rows, which follow the 40-byte header.
void FillBmpFileHeader(uint32_t rowBytes, uint8_t* header);

struct BmpParts {
  const uint8_t* info;
  uint32_t infoSize;
  const uint8_t* bits;
  uint32_t bitsSize;
};

// Checks the two blocks the plug-in handed over (given with their block
// sizes) before they are written out: a 40-byte header announcing a 16-bit
// BI_RGB picture whose biSizeImage is the size of its rows, which fit in the
// bits block. Only the rows are written, not the block's trailing bytes. Fills parts on success,
// or says what is wrong in *problem.
bool DescribeBmp(const uint8_t* info, uint64_t infoBlockSize, const uint8_t* bits,
                 uint64_t bitsBlockSize, BmpParts* parts, std::string* problem);

// Writes the BMP file under a temporary name in target's folder and renames
// it into place, unless cancelled() says so by then. Nothing of it stays
// behind on failure or cancel; on failure *problem says why.
enum class BmpWrite { Written, Cancelled, Failed };
BmpWrite WriteBmpFile(const std::filesystem::path& target, const BmpParts& parts,
                      bool (*cancelled)(), std::string* problem);
