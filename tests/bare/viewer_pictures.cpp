// The viewer test's pictures and their checks: each size from the file and
// from memory, through both sets of entry points, against the reference.

#include "tests/bare/viewer_test.h"

namespace viewer {

void NarrowCopy(const char16_t* wide, char* narrow) {
  uint32_t i = 0;
  for (; wide[i] != u'\0' && i + 1 < kPathChars; ++i) narrow[i] = static_cast<char>(wide[i]);
  narrow[i] = '\0';
}

int32_t WPP_CALL RecordProgress(int32_t numerator, int32_t denominator, intptr_t userData) {
  // userData is a full 64-bit value: the log's address with a tag in its top byte.
  auto* log = reinterpret_cast<ProgressLog*>(userData & 0x00FFFFFFFFFFFFFF);
  if (log->calls < 4) {
    log->numerators[log->calls] = numerator;
    log->denominators[log->calls] = denominator;
    log->userData[log->calls] = userData;
  }
  ++log->calls;
  return log->calls == log->stopAtCall ? 1 : 0;
}

void CheckRecord(const uint8_t* record, const Picture& p) {
  static_assert(sizeof(PictureInfoRecord) == 32, "the 64-bit record");
  const uint8_t zeros[24] = {};
  ExpectSameBytes(record, zeros, 8, "offsetX and offsetY");
  ExpectEqual(LoadLe32(record + 8), p.width, "width");
  ExpectEqual(LoadLe32(record + 12), p.height, "height");
  ExpectSameBytes(record + 16, zeros, 4, "densities");
  ExpectEqual(LoadLe16(record + 20), 16, "bitsPerPixel");
  ExpectSameBytes(record + 22, zeros, 2, "the two bytes before the handle");
  uint64_t handle = 0;
  for (int i = 7; i >= 0; --i) handle = handle << 8 | record[24 + i];
  auto* text = reinterpret_cast<char*>(static_cast<uintptr_t>(handle));
  if (Expect(text != nullptr, "a text block")) {
    Expect(SameText(text, "zorplex sample"), "the information text");
    GlobalFree(text);
  }
}

void CheckDib(PluginResult result, BlockHandle info, BlockHandle bits, const Picture& p) {
  if (ExpectEqual(result, Ok, "GetPicture") &&
      Expect(info != nullptr && bits != nullptr, "blocks")) {
    uint8_t header[reference::kInfoHeaderSize];
    reference::FillInfoHeader(p.width, p.height, header);
    ExpectEqual(LocalSize(info), sizeof header, "header block size");
    ExpectSameBytes(static_cast<const uint8_t*>(info), header, sizeof header, "the header");
    const uint32_t bitsSize = reference::DibStride(p.width) * p.height + reference::kBitsTail;
    ExpectEqual(LocalSize(bits), bitsSize, "bits block size");
    auto* want = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, bitsSize));
    reference::FillDibBits(p.bytes + wpp::kPixelsOffset, p.width, p.height, want);
    ExpectSameBytes(static_cast<const uint8_t*>(bits), want, bitsSize, "every pixel byte");
    LocalFree(want);
  }
  LocalFree(info);
  LocalFree(bits);
}

void CheckPictures(const EntryPoints& plugin) {
  for (const auto& size : kPictureSizes) {
    const Picture p = MakePicture(size[0], size[1]);
    caseWidth = p.width;
    caseHeight = p.height;
    char16_t path[kPathChars];
    char narrowPath[kPathChars];
    if (!WriteTempFile(u"wpp_bare_test.wpp", p.bytes, p.size, path)) return;
    NarrowCopy(path, narrowPath);
    // The picture's bytes end where committed memory does.
    const PageEnd placed = AtPageEnd(p.size);
    memcpy(placed.bytes, p.bytes, p.size);
    const uint8_t* memory = placed.bytes;

    // The support test on the head a viewer hands over, and on a handle.
    caseName = "IsSupported";
    auto* head = static_cast<uint8_t*>(LocalAlloc(LMEM_ZEROINIT, kSupportHeadBytes));
    memcpy(head, p.bytes, p.size < kSupportHeadBytes ? p.size : kSupportHeadBytes);
    ExpectEqual(plugin.isSupported(narrowPath, head), 1, "on a buffer");
    LocalFree(head);
    ExpectEqual(plugin.isSupportedW(path, memory), 1, "on the picture's own bytes");
    HANDLE file = OpenToRead(path);
    ExpectEqual(plugin.isSupported(narrowPath, file), 1, "on a handle");
    CloseHandle(file);

    caseName = "GetPictureInfo";
    uint8_t record[32];
    ExpectEqual(plugin.getPictureInfo(narrowPath, 0, kFileMode, Prefilled(record)), Ok,
                "from the file");
    CheckRecord(record, p);
    ExpectEqual(plugin.getPictureInfoW(reinterpret_cast<const char16_t*>(memory), p.size,
                                       kMemoryMode, Prefilled(record)),
                Ok, "from memory");
    CheckRecord(record, p);

    caseName = "GetPicture from the file";
    ProgressLog log = {};
    const intptr_t userData = reinterpret_cast<intptr_t>(&log) | kUserDataTag;
    BlockHandle info = nullptr, bits = nullptr;
    PluginResult result =
        plugin.getPicture(narrowPath, 0, kFileMode, &info, &bits, RecordProgress, userData);
    CheckDib(result, info, bits, p);
    ExpectEqual(log.calls, 2, "progress calls");
    for (uint32_t call = 0; call < 2; ++call) {
      ExpectEqual(log.numerators[call], call, "progress numerator");
      ExpectEqual(log.denominators[call], 1, "progress denominator");
      ExpectEqual(log.userData[call], userData, "userData, all 64 bits");
    }

    caseName = "GetPicture from memory";
    info = bits = nullptr;
    result = plugin.getPictureW(reinterpret_cast<const char16_t*>(memory), p.size, kMemoryMode,
                                &info, &bits, nullptr, 0);
    CheckDib(result, info, bits, p);

    VirtualFree(placed.region, 0, MEM_RELEASE);
    DeleteFileW(reinterpret_cast<const wchar_t*>(path));
    LocalFree(p.bytes);
  }
  caseWidth = caseHeight = 0;
}

}  // namespace viewer
