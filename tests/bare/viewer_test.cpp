// A viewer's use of the plug-in, for targets that have no C or C++ runtime
// (ARM64 Windows): a program over KERNEL32 alone that loads the plug-in next
// to it with LoadLibraryW and GetProcAddress and checks what a viewer relies
// on. Its pictures and their reference DIBs are made here, by a formula
// written apart from the plug-in's. It prints one line per failed check and
// ends with "N passed, N failed"; the exit status is 1 when any failed.

#include "host/bare_host.h"
#include "platform/platform.h"
#include "plugin/plugin.h"
#include "wpp/bytes.h"

namespace {

using wpp::LoadLe16;
using wpp::LoadLe32;
using wpp::StoreLe16;
using wpp::StoreLe32;

// ---- Verdicts ------------------------------------------------------------

using bare::Append;
using bare::kPathChars;
using bare::Print;
using bare::PrintNumber;

uint32_t passed, failed;

// The case a failure belongs to: "what, width x height".
const char* caseName = "";
uint32_t caseWidth, caseHeight;

void PrintCase() {
  Print(caseName);
  if (caseWidth != 0) {
    Print(", ");
    PrintNumber(caseWidth);
    Print("x");
    PrintNumber(caseHeight);
  }
}

// Counts a failure and starts its line: "FAIL case: what". The caller ends it.
void BeginFailure(const char* what) {
  ++failed;
  Print("FAIL ");
  PrintCase();
  Print(": ");
  Print(what);
}

void PrintHaveWant(int64_t have, int64_t want) {
  Print(": have ");
  PrintNumber(have);
  Print(", want ");
  PrintNumber(want);
}

bool Expect(bool ok, const char* what) {
  if (ok) {
    ++passed;
  } else {
    BeginFailure(what);
    Print("\r\n");
  }
  return ok;
}

bool ExpectEqual(int64_t have, int64_t want, const char* what) {
  if (have == want) return Expect(true, what);
  BeginFailure(what);
  PrintHaveWant(have, want);
  Print("\r\n");
  return false;
}

// Compares count bytes; on a mismatch names the first differing offset.
bool ExpectSameBytes(const uint8_t* have, const uint8_t* want, uint64_t count, const char* what) {
  for (uint64_t i = 0; i < count; ++i) {
    if (have[i] != want[i]) {
      BeginFailure(what);
      Print(": first difference at byte ");
      PrintNumber(static_cast<int64_t>(i));
      PrintHaveWant(have[i], want[i]);
      Print("\r\n");
      return false;
    }
  }
  return Expect(true, what);
}

bool SameText(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a == *b;
}

bool SameWideText(const char16_t* a, const char* b) {
  while (*a != u'\0' && *a == static_cast<char16_t>(*b)) ++a, ++b;
  return *a == static_cast<char16_t>(*b);
}

// ---- The plug-in, bound as a viewer binds it -----------------------------

struct Plugin {
  decltype(&GetPluginInfo) getPluginInfo;
  decltype(&IsSupported) isSupported;
  decltype(&GetPictureInfo) getPictureInfo;
  decltype(&GetPicture) getPicture;
  decltype(&GetPreview) getPreview;
  decltype(&GetPluginInfoW) getPluginInfoW;
  decltype(&IsSupportedW) isSupportedW;
  decltype(&GetPictureInfoW) getPictureInfoW;
  decltype(&GetPictureW) getPictureW;
  decltype(&GetPreviewW) getPreviewW;
};

template <typename Proc>
bool Bind(HMODULE module, const char* name, Proc* proc) {
  *proc = reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return Expect(*proc != nullptr, name);
}

// ---- Pictures and their reference ----------------------------------------

struct Picture {
  uint8_t* bytes;  // 24-byte header and pixels, in a LocalAlloc block
  uint32_t size;
  uint32_t width, height;
};

uint32_t randomState = 0x2545F491;
uint32_t NextRandom() {
  randomState ^= randomState << 13;
  randomState ^= randomState >> 17;
  randomState ^= randomState << 5;
  return randomState;
}

Picture MakePicture(uint32_t width, uint32_t height) {
  Picture p = {nullptr, 24 + 2 * width * height, width, height};
  p.bytes = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, p.size));
  for (uint32_t i = 0; i < 16; ++i) p.bytes[i] = static_cast<uint8_t>('A' + i);
  StoreLe32(p.bytes + 16, 2 * width * height + 4);
  StoreLe16(p.bytes + 20, static_cast<uint16_t>(width));
  StoreLe16(p.bytes + 22, static_cast<uint16_t>(height));
  for (uint32_t i = 0; i < width * height; ++i) {
    // The corners of the colour cube among the random ones.
    const uint16_t corners[] = {0xFFFF, 0xF800, 0x07E0, 0x001F, 0x0020, 0x0000};
    const uint16_t pixel = i < 6 ? corners[i] : static_cast<uint16_t>(NextRandom());
    StoreLe16(p.bytes + 24 + 2 * i, pixel);
  }
  return p;
}

uint32_t Stride(uint32_t width) { return (2 * width + 3) & ~3u; }

// The DIB rows a viewer expects: bottom row first, each RGB555 pixel red,
// green's upper five bits and blue moved down into place, rows padded with
// zeros to 4 bytes, and 4 zero bytes after the last row.
uint8_t* ReferenceBits(const Picture& p) {
  const uint32_t stride = Stride(p.width);
  auto* bits = static_cast<uint8_t*>(LocalAlloc(LMEM_ZEROINIT, stride * p.height + 4));
  for (uint32_t row = 0; row < p.height; ++row) {
    const uint8_t* source = p.bytes + 24 + 2 * p.width * (p.height - 1 - row);
    for (uint32_t x = 0; x < p.width; ++x) {
      const uint32_t pixel = LoadLe16(source + 2 * x);
      const uint32_t red = pixel >> 11, green = (pixel >> 6) & 0x1F, blue = pixel & 0x1F;
      StoreLe16(bits + row * stride + 2 * x, static_cast<uint16_t>(red << 10 | green << 5 | blue));
    }
  }
  return bits;
}

// A temporary file holding count bytes; its name is written into path.
bool WriteTempFile(const char16_t* name, const uint8_t* bytes, uint32_t count, char16_t* path) {
  GetTempPathW(kPathChars, reinterpret_cast<wchar_t*>(path));
  Append(path, name);
  HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Expect(false, "a temporary file can be made");
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes, count, &written, nullptr) && written == count;
  CloseHandle(file);
  return Expect(ok, "a temporary file can be written");
}

// An ANSI copy of an all-ASCII wide path, for the 8-bit entry points.
void NarrowCopy(const char16_t* wide, char* narrow) {
  uint32_t i = 0;
  for (; wide[i] != u'\0' && i + 1 < kPathChars; ++i) narrow[i] = static_cast<char>(wide[i]);
  narrow[i] = '\0';
}

// The picture's bytes at the very end of committed memory, the page after
// them reserved but never committed: a read past the last byte faults.
uint8_t* PlaceAtPageEnd(const Picture& p, void** region) {
  constexpr uint32_t kPage = 4096;
  const uint32_t committed = (p.size + kPage - 1) / kPage * kPage;
  *region = VirtualAlloc(nullptr, committed + kPage, MEM_RESERVE, PAGE_NOACCESS);
  VirtualAlloc(*region, committed, MEM_COMMIT, PAGE_READWRITE);
  uint8_t* at = static_cast<uint8_t*>(*region) + committed - p.size;
  memcpy(at, p.bytes, p.size);
  return at;
}

// ---- Progress ------------------------------------------------------------

struct ProgressLog {
  uint32_t calls;
  int32_t numerators[4], denominators[4];
  intptr_t userData[4];
  uint32_t stopAtCall;  // 1 or 2; 0 never
};

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

constexpr intptr_t kUserDataTag = static_cast<intptr_t>(0x5A00000000000000);

// ---- The checks ----------------------------------------------------------

void CheckInformationStrings(const Plugin& plugin) {
  caseName = "information strings";
  const char* want[] = {"00IN", "WPP to DIB by zurk", "*.wpp", "WPP file"};
  for (int32_t index = 0; index < 4; ++index) {
    char text[64];
    char16_t wide[64];
    ExpectEqual(plugin.getPluginInfo(index, text, sizeof text), lstrlenA(want[index]), "length");
    Expect(SameText(text, want[index]), want[index]);
    ExpectEqual(plugin.getPluginInfoW(index, wide, 64), lstrlenA(want[index]), "wide length");
    Expect(SameWideText(wide, want[index]), "the wide twin");
  }
  char shortBuffer[3] = {'x', 'x', 'x'};
  ExpectEqual(plugin.getPluginInfo(1, shortBuffer, 3), 2, "a buffer of 3 takes 2 characters");
  ExpectEqual(plugin.getPluginInfo(4, shortBuffer, 3), 0, "index 4");
  ExpectEqual(plugin.getPreview(nullptr, 0, 0, nullptr, nullptr, nullptr, 0), NotImplemented,
              "GetPreview");
  ExpectEqual(plugin.getPreviewW(nullptr, 0, 0, nullptr, nullptr, nullptr, 0), NotImplemented,
              "GetPreviewW");
}

// The record under a 0x7F fill, as hosts fill it: every byte checked.
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

bool Untouched(const uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    if (bytes[i] != 0x7F) return false;
  return true;
}

void CheckDib(PluginResult result, BlockHandle info, BlockHandle bits, const Picture& p) {
  if (!ExpectEqual(result, Ok, "GetPicture") ||
      !Expect(info != nullptr && bits != nullptr, "blocks"))
    return;
  const uint32_t stride = Stride(p.width);
  const auto* header = static_cast<const uint8_t*>(info);
  ExpectEqual(LocalSize(info), 40, "header block size");
  ExpectEqual(LoadLe32(header), 40, "biSize");
  ExpectEqual(LoadLe32(header + 4), p.width, "biWidth");
  ExpectEqual(LoadLe32(header + 8), p.height, "biHeight");
  ExpectEqual(LoadLe16(header + 12), 1, "biPlanes");
  ExpectEqual(LoadLe16(header + 14), 16, "biBitCount");
  ExpectEqual(LoadLe32(header + 16), 0, "biCompression");
  ExpectEqual(LoadLe32(header + 20), stride * p.height, "biSizeImage");
  const uint8_t zeros[16] = {};
  ExpectSameBytes(header + 24, zeros, 16, "resolution and palette counts");
  const uint32_t bitsSize = stride * p.height + 4;
  ExpectEqual(LocalSize(bits), bitsSize, "bits block size");
  uint8_t* want = ReferenceBits(p);
  ExpectSameBytes(static_cast<const uint8_t*>(bits), want, bitsSize, "every pixel byte");
  LocalFree(want);
}

void CheckPictures(const Plugin& plugin) {
  // Odd and even widths around the vector widths, a 1x1, and rows that end
  // on a page boundary (2048 pixels: 4096 bytes a row).
  const uint32_t sizes[][2] = {{1, 1},  {2, 2},  {3, 5},   {7, 3},    {8, 2},    {9, 4},
                               {15, 2}, {16, 3}, {17, 5},  {31, 2},   {33, 3},   {63, 2},
                               {64, 4}, {65, 3}, {127, 2}, {2048, 3}, {4095, 2}, {1, 300}};
  for (const auto& size : sizes) {
    const Picture p = MakePicture(size[0], size[1]);
    caseWidth = p.width;
    caseHeight = p.height;
    char16_t path[kPathChars];
    char narrowPath[kPathChars];
    if (!WriteTempFile(u"wpp_bare_test.wpp", p.bytes, p.size, path)) return;
    NarrowCopy(path, narrowPath);
    void* region = nullptr;
    const uint8_t* memory = PlaceAtPageEnd(p, &region);

    // The support test on the head a viewer hands over, and on a handle.
    caseName = "IsSupported";
    auto* head = static_cast<uint8_t*>(LocalAlloc(LMEM_ZEROINIT, kSupportHeadBytes));
    memcpy(head, p.bytes, p.size < kSupportHeadBytes ? p.size : kSupportHeadBytes);
    ExpectEqual(plugin.isSupported(narrowPath, head), 1, "on a buffer");
    LocalFree(head);
    ExpectEqual(plugin.isSupportedW(path, memory), 1, "on the picture's own bytes");
    HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ExpectEqual(plugin.isSupported(narrowPath, file), 1, "on a handle");
    CloseHandle(file);

    caseName = "GetPictureInfo";
    uint8_t record[32];
    memset(record, 0x7F, sizeof record);
    ExpectEqual(plugin.getPictureInfo(narrowPath, 0, kFileMode,
                                      reinterpret_cast<PictureInfoRecord*>(record)),
                Ok, "from the file");
    CheckRecord(record, p);
    memset(record, 0x7F, sizeof record);
    ExpectEqual(plugin.getPictureInfoW(reinterpret_cast<const char16_t*>(memory), p.size,
                                       kMemoryMode, reinterpret_cast<PictureInfoRecord*>(record)),
                Ok, "from memory");
    CheckRecord(record, p);

    caseName = "GetPicture from the file";
    ProgressLog log = {};
    const intptr_t userData = reinterpret_cast<intptr_t>(&log) | kUserDataTag;
    BlockHandle info = nullptr, bits = nullptr;
    PluginResult result =
        plugin.getPicture(narrowPath, 0, kFileMode, &info, &bits, RecordProgress, userData);
    CheckDib(result, info, bits, p);
    LocalFree(info);
    LocalFree(bits);
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
    LocalFree(info);
    LocalFree(bits);

    VirtualFree(region, 0, MEM_RELEASE);
    DeleteFileW(reinterpret_cast<const wchar_t*>(path));
    LocalFree(p.bytes);
  }
  caseWidth = caseHeight = 0;
}

void CheckFailures(const Plugin& plugin) {
  const Picture p = MakePicture(5, 4);
  char16_t path[kPathChars];
  char narrowPath[kPathChars];
  uint8_t record[32];
  BlockHandle sentinel = reinterpret_cast<BlockHandle>(0x1234);

  caseName = "a missing file";
  GetTempPathW(kPathChars, reinterpret_cast<wchar_t*>(path));
  Append(path, u"wpp_bare_no_such_file.wpp");
  NarrowCopy(path, narrowPath);
  memset(record, 0x7F, sizeof record);
  ExpectEqual(
      plugin.getPictureInfo(narrowPath, 0, kFileMode, reinterpret_cast<PictureInfoRecord*>(record)),
      ReadError, "GetPictureInfo");
  Expect(Untouched(record, sizeof record), "the record untouched");
  BlockHandle info = sentinel, bits = sentinel;
  ExpectEqual(plugin.getPictureW(path, 0, kFileMode, &info, &bits, nullptr, 0), ReadError,
              "GetPictureW");
  Expect(info == sentinel && bits == sentinel, "the slots untouched");

  caseName = "a truncated picture";
  if (WriteTempFile(u"wpp_bare_short.wpp", p.bytes, p.size - 1, path)) {
    NarrowCopy(path, narrowPath);
    ExpectEqual(plugin.getPicture(narrowPath, 0, kFileMode, &info, &bits, nullptr, 0),
                UnsupportedFormat, "GetPicture");
    Expect(info == sentinel && bits == sentinel, "the slots untouched");
    DeleteFileW(reinterpret_cast<const wchar_t*>(path));
  }

  // Rows padded to 4 bytes that, with the trailer, pass 4 GiB: refused before
  // any block is taken or any pixel read, so a header alone will do.
  caseName = "a DIB past 4 GiB";
  uint8_t header[24] = {};
  StoreLe32(header + 16, 2u * 65535 * 32768 + 4);
  StoreLe16(header + 20, 65535);
  StoreLe16(header + 22, 32768);
  const intptr_t claimed = 20 + intptr_t{2} * 65535 * 32768 + 4;
  ExpectEqual(plugin.getPicture(reinterpret_cast<const char*>(header), claimed, kMemoryMode, &info,
                                &bits, nullptr, 0),
              OutOfMemory, "GetPicture");
  Expect(info == nullptr && bits == nullptr, "both slots null");

  // The host's callback stops us at either call.
  for (uint32_t stopAt = 1; stopAt <= 2; ++stopAt) {
    caseName = stopAt == 1 ? "cancelled at the first progress call"
                           : "cancelled at the last progress call";
    ProgressLog log = {};
    log.stopAtCall = stopAt;
    info = bits = sentinel;
    ExpectEqual(
        plugin.getPicture(reinterpret_cast<const char*>(p.bytes), p.size, kMemoryMode, &info, &bits,
                          RecordProgress, reinterpret_cast<intptr_t>(&log) | kUserDataTag),
        Aborted, "GetPicture");
    ExpectEqual(log.calls, stopAt, "progress calls");
    if (stopAt == 1) {
      Expect(info == sentinel && bits == sentinel, "the slots untouched");
    } else {
      CheckDib(Ok, info, bits, p);  // both filled blocks stay with the host
      LocalFree(info);
      LocalFree(bits);
    }
  }
  LocalFree(p.bytes);
}

// A name no 8-bit code page spells: CJK, a letter with a stroke and an emoji
// beyond the basic plane, reached through the wide entry points only.
void CheckUtf16Path(const Plugin& plugin) {
  caseName = "a UTF-16 path";
  const Picture p = MakePicture(6, 3);
  char16_t path[kPathChars];
  if (!WriteTempFile(u"wpp \u56FE\u50CF \u0141\u00F3d\u017A \U0001F5BC.wpp", p.bytes, p.size, path))
    return;
  HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ExpectEqual(plugin.isSupportedW(path, file), 1, "IsSupportedW on its handle");
  CloseHandle(file);
  uint8_t record[32];
  memset(record, 0x7F, sizeof record);
  ExpectEqual(
      plugin.getPictureInfoW(path, 0, kFileMode, reinterpret_cast<PictureInfoRecord*>(record)), Ok,
      "GetPictureInfoW");
  CheckRecord(record, p);
  BlockHandle info = nullptr, bits = nullptr;
  CheckDib(plugin.getPictureW(path, 0, kFileMode, &info, &bits, nullptr, 0), info, bits, p);
  LocalFree(info);
  LocalFree(bits);
  Expect(DeleteFileW(reinterpret_cast<const wchar_t*>(path)) != 0, "the file was closed");
  LocalFree(p.bytes);
}

// The version a user sees in the file's properties, read as Windows reads it.
void CheckVersionResource() {
  caseName = "the version resource";
  char16_t path[kPathChars];
  bare::PluginBesideUs(path);
  const auto* file = reinterpret_cast<const wchar_t*>(path);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
  if (!Expect(size > 0, "GetFileVersionInfoSizeW")) return;
  void* block = LocalAlloc(LMEM_ZEROINIT, size);
  if (Expect(GetFileVersionInfoW(file, 0, size, block) != 0, "GetFileVersionInfoW")) {
    const struct {
      const wchar_t* query;
      const char* want;
    } strings[] = {{L"\\StringFileInfo\\040904B0\\FileVersion", WPP_VERSION},
                   {L"\\StringFileInfo\\040904B0\\ProductVersion", WPP_VERSION},
                   {L"\\StringFileInfo\\040904B0\\OriginalFilename", WPP_PLUGIN_FILE}};
    for (const auto& s : strings) {
      void* text = nullptr;
      UINT length = 0;
      Expect(VerQueryValueW(block, s.query, &text, &length) != 0 &&
                 SameWideText(static_cast<const char16_t*>(text), s.want),
             s.want);
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (Expect(VerQueryValueW(block, L"\\", reinterpret_cast<void**>(&fixed), &length) != 0,
               "the fixed part")) {
      // The same number as the text, "major.minor.patch".
      uint32_t parts[3] = {}, part = 0;
      for (const char* c = WPP_VERSION; *c != '\0' && part < 3; ++c) {
        if (*c == '.')
          ++part;
        else
          parts[part] = parts[part] * 10 + static_cast<uint32_t>(*c - '0');
      }
      ExpectEqual(fixed->dwFileVersionMS, parts[0] << 16 | parts[1],
                  "the file version's high word");
      ExpectEqual(fixed->dwFileVersionLS, parts[2] << 16, "the file version's low word");
    }
  }
  LocalFree(block);
}

}  // namespace

extern "C" void WINAPI Start() {
  caseName = "loading the plug-in";
  HMODULE module = bare::LoadPluginBesideUs();
  Plugin plugin = {};
  if (Expect(module != nullptr, "LoadLibraryW") &&
      Bind(module, "GetPluginInfo", &plugin.getPluginInfo) &&
      Bind(module, "IsSupported", &plugin.isSupported) &&
      Bind(module, "GetPictureInfo", &plugin.getPictureInfo) &&
      Bind(module, "GetPicture", &plugin.getPicture) &&
      Bind(module, "GetPreview", &plugin.getPreview) &&
      Bind(module, "GetPluginInfoW", &plugin.getPluginInfoW) &&
      Bind(module, "IsSupportedW", &plugin.isSupportedW) &&
      Bind(module, "GetPictureInfoW", &plugin.getPictureInfoW) &&
      Bind(module, "GetPictureW", &plugin.getPictureW) &&
      Bind(module, "GetPreviewW", &plugin.getPreviewW)) {
    CheckInformationStrings(plugin);
    CheckPictures(plugin);
    CheckFailures(plugin);
    CheckUtf16Path(plugin);
    CheckVersionResource();
  }
  if (module != nullptr) FreeLibrary(module);
  Print("viewer test: ");
  PrintNumber(passed);
  Print(" passed, ");
  PrintNumber(failed);
  Print(" failed\r\n");
  ExitProcess(failed == 0 ? 0 : 1);
}
