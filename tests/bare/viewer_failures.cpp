// The viewer test's other checks: the information strings, what each
// failure gives a host, a UTF-16 path and the version resource.

#include "tests/bare/viewer_test.h"
#include "tests/support/version_resource.h"

namespace viewer {
namespace {

bool Untouched(const uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    if (bytes[i] != 0x7F) return false;
  return true;
}

}  // namespace

void CheckInformationStrings(const EntryPoints& plugin) {
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

void CheckFailures(const EntryPoints& plugin) {
  const Picture p = MakePicture(5, 4);
  char16_t path[kPathChars];
  char narrowPath[kPathChars];
  uint8_t record[32];
  BlockHandle sentinel = reinterpret_cast<BlockHandle>(0x1234);

  caseName = "a missing file";
  GetTempPathW(kPathChars, reinterpret_cast<wchar_t*>(path));
  Append(path, u"wpp_bare_no_such_file.wpp");
  NarrowCopy(path, narrowPath);
  ExpectEqual(plugin.getPictureInfo(narrowPath, 0, kFileMode, Prefilled(record)), ReadError,
              "GetPictureInfo");
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
    }
  }
  LocalFree(p.bytes);
}

// A name no 8-bit code page spells: CJK, a letter with a stroke and an emoji
// beyond the basic plane, reached through the wide entry points only.
void CheckUtf16Path(const EntryPoints& plugin) {
  caseName = "a UTF-16 path";
  const Picture p = MakePicture(6, 3);
  char16_t path[kPathChars];
  if (!WriteTempFile(u"wpp \u56FE\u50CF \u0141\u00F3d\u017A \U0001F5BC.wpp", p.bytes, p.size, path))
    return;
  HANDLE file = OpenToRead(path);
  ExpectEqual(plugin.isSupportedW(path, file), 1, "IsSupportedW on its handle");
  CloseHandle(file);
  uint8_t record[32];
  ExpectEqual(plugin.getPictureInfoW(path, 0, kFileMode, Prefilled(record)), Ok, "GetPictureInfoW");
  CheckRecord(record, p);
  BlockHandle info = nullptr, bits = nullptr;
  CheckDib(plugin.getPictureW(path, 0, kFileMode, &info, &bits, nullptr, 0), info, bits, p);
  Expect(DeleteFileW(reinterpret_cast<const wchar_t*>(path)) != 0, "the file was closed");
  LocalFree(p.bytes);
}

// The version a user sees in the file's properties, read as Windows reads it.
void CheckVersionResource() {
  caseName = "the version resource";
  char16_t path[kPathChars];
  bare::PluginBesideUs(path);
  const char* problem = testwpp::VersionResourceProblem(
      reinterpret_cast<const wchar_t*>(path), L"" WPP_PLUGIN_FILE, L"WPP image import filter");
  Expect(problem == nullptr, problem);
}

}  // namespace viewer
