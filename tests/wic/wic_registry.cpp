// The WIC test's view of the registry: the classes exported whole by
// regedit, to compare before and after, and every value that registering
// writes, read back one by one, apart from the codec's own table.

#include "tests/wic/wic_test.h"
#include "wpp/bytes.h"

namespace wictest {
namespace {

// A whole file in a LocalAlloc block (null when it cannot be read), and its size.
uint8_t* ReadWhole(const char16_t* path, uint32_t* size) {
  *size = 0;
  HANDLE file = OpenToRead(path);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  const DWORD length = GetFileSize(file, nullptr);
  auto* bytes = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, length + 1));
  DWORD got = 0;
  if (bytes != nullptr && (!ReadFile(file, bytes, length, &got, nullptr) || got != length)) {
    LocalFree(bytes);
    bytes = nullptr;
  }
  CloseHandle(file);
  *size = length;
  return bytes;
}

bool SameSnapshot(const Snapshot& a, const Snapshot& b) {
  for (int i = 0; i < 2; ++i) {
    if (a.size[i] != b.size[i] || (a.bytes[i] == nullptr) != (b.bytes[i] == nullptr)) return false;
    for (uint32_t at = 0; a.bytes[i] != nullptr && at < a.size[i]; ++at)
      if (a.bytes[i][at] != b.bytes[i][at]) return false;
  }
  return true;
}
}  // namespace

Snapshot TakeSnapshot() {
  const char16_t* roots[] = {u"HKEY_LOCAL_MACHINE\\Software\\Classes",
                             u"HKEY_CURRENT_USER\\Software\\Classes"};
  Snapshot s;
  for (int i = 0; i < 2; ++i) {
    char16_t file[kPathChars], line[2 * kPathChars] = u"regedit.exe /E \"";
    GetTempPathW(kPathChars, reinterpret_cast<wchar_t*>(file));
    Append(file, u"wpp_wic_classes.reg");
    Append(line, file);
    Append(line, u"\" \"");
    Append(line, roots[i]);
    Append(line, u"\"");
    DeleteFileW(reinterpret_cast<const wchar_t*>(file));
    Run(line);
    s.bytes[i] = ReadWhole(file, &s.size[i]);  // none: the key is not there
    DeleteFileW(reinterpret_cast<const wchar_t*>(file));
  }
  return s;
}
void FreeSnapshot(const Snapshot& s) {
  for (uint8_t* bytes : s.bytes) LocalFree(bytes);
}
bool ClassesAsAt(const Snapshot& then) {
  const Snapshot now = TakeSnapshot();
  const bool same = SameSnapshot(then, now);
  FreeSnapshot(now);
  return same;
}

namespace {

// The registry as Windows reads it, spelled here apart from the codec's own
// table: %D and %H stand for the decoder's and the property handler's class
// as WIC and the registry name them, %M for the codec's path.
struct Expected {
  Root root;
  const wchar_t* key;
  const wchar_t* name;  // null: the default value
  DWORD type;           // REG_NONE with no text: the key alone
  const wchar_t* text;  // or the DWORD's value, or the binary's one byte
  DWORD number;
  uint8_t flags;
};
enum : uint8_t {
  kShared = 0,
  kMachineOnly = 1,  // not written for one user
  kOneEach = 2,      // in each width's own view, not shared between widths
  kNever = 4,        // must not be there at all
};
constexpr const wchar_t* kRootPaths[] = {L"Software\\Classes\\",
                                         L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\",
                                         L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"};
#define THUMBNAIL_KEY L"ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}"
#define THUMBNAIL_PROVIDER L"{C7657C4A-9F68-40FA-A4DF-96BC08EB3551}"
const Expected kExpected[] = {
    {kClasses, L"CLSID\\%D", nullptr, REG_SZ, L"WPP Decoder", 0, kOneEach},
    {kClasses, L"CLSID\\%D", L"FriendlyName", REG_SZ, L"WPP Decoder", 0, kOneEach},
    {kClasses, L"CLSID\\%D", L"Vendor", REG_SZ, L"{327C235B-1C19-4D0C-9704-392635758536}", 0,
     kOneEach},
    {kClasses, L"CLSID\\%D", L"ContainerFormat", REG_SZ, L"{45DCEDC9-B7DF-4229-B55D-9F9826561DD2}",
     0, kOneEach},
    {kClasses, L"CLSID\\%D", L"FileExtensions", REG_SZ, L".wpp", 0, kOneEach},
    {kClasses, L"CLSID\\%D", L"MimeTypes", REG_SZ, L"image/x-wpp", 0, kOneEach},
    {kClasses, L"CLSID\\%D", L"SupportAnimation", REG_DWORD, nullptr, 0, kOneEach},
    {kClasses, L"CLSID\\%D", L"SupportChromakey", REG_DWORD, nullptr, 0, kOneEach},
    {kClasses, L"CLSID\\%D", L"SupportLossless", REG_DWORD, nullptr, 1, kOneEach},
    {kClasses, L"CLSID\\%D", L"SupportMultiframe", REG_DWORD, nullptr, 0, kOneEach},
    {kClasses, L"CLSID\\%D", L"SupportsLossless", REG_NONE, nullptr, 0, kOneEach | kNever},
    {kClasses, L"CLSID\\%D\\InprocServer32", nullptr, REG_SZ, L"%M", 0, kOneEach},
    {kClasses, L"CLSID\\%D\\InprocServer32", L"ThreadingModel", REG_SZ, L"Both", 0, kOneEach},
    {kClasses, L"CLSID\\%D\\Formats\\{6FDDC324-4E03-4BFE-B185-3D77768DC90A}", nullptr, REG_NONE,
     nullptr, 0, kOneEach},
    {kClasses, L"CLSID\\%D\\Patterns\\0", L"Position", REG_DWORD, nullptr, 16, kOneEach},
    {kClasses, L"CLSID\\%D\\Patterns\\0", L"Length", REG_DWORD, nullptr, 1, kOneEach},
    {kClasses, L"CLSID\\%D\\Patterns\\0", L"Pattern", REG_BINARY, nullptr, 0, kOneEach},
    {kClasses, L"CLSID\\%D\\Patterns\\0", L"Mask", REG_BINARY, nullptr, 1, kOneEach},
    {kClasses, L"CLSID\\%D\\Patterns\\0", L"EndOfStream", REG_DWORD, nullptr, 0, kOneEach},
    {kClasses, L"CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance\\%D", L"CLSID", REG_SZ,
     L"%D", 0, kOneEach},
    {kClasses, L"CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance\\%D", L"FriendlyName",
     REG_SZ, L"WPP Decoder", 0, kOneEach},
    {kClasses, L"CLSID\\%H\\InprocServer32", nullptr, REG_SZ, L"%M", 0, kMachineOnly | kOneEach},
    {kClasses, L"CLSID\\%H\\InprocServer32", L"ThreadingModel", REG_SZ, L"Both", 0,
     kMachineOnly | kOneEach},
    {kClasses, L"wpp.Image.1", nullptr, REG_SZ, L"WPP image", 0, kShared},
    {kClasses, L".wpp", nullptr, REG_SZ, L"wpp.Image.1", 0, kShared},
    {kClasses, L".wpp", L"Content Type", REG_SZ, L"image/x-wpp", 0, kShared},
    {kClasses, L".wpp", L"PerceivedType", REG_SZ, L"image", 0, kShared},
    {kClasses, L".wpp\\OpenWithProgids", L"wpp.Image.1", REG_NONE, L"", 0, kShared},
    {kClasses, L".wpp\\" THUMBNAIL_KEY, nullptr, REG_SZ, THUMBNAIL_PROVIDER, 0, kShared},
    {kClasses, L"SystemFileAssociations\\.wpp\\" THUMBNAIL_KEY, nullptr, REG_SZ, THUMBNAIL_PROVIDER,
     0, kShared},
    // A preview handler's key naming a class that is none.
    {kClasses, L".wpp\\ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}", nullptr, REG_NONE, nullptr,
     0, kNever},
    {kCurrentVersion, L"PropertySystem\\PropertyHandlers\\.wpp", nullptr, REG_SZ, L"%H", 0,
     kMachineOnly | kOneEach},
    {kCurrentVersion64, L"Explorer\\KindMap", L".wpp", REG_SZ, L"picture", 0, kMachineOnly},
};
// The ProgID's lists of properties name the handler's.
const wchar_t* const kPropertyLists[] = {L"FullDetails", L"PreviewDetails", L"InfoTip",
                                         L"TileInfo"};

}  // namespace

wchar_t decoderClass[40], handlerClass[40];

void Fill(const wchar_t* pattern, wchar_t* out) {
  char16_t codec[kPathChars];
  CodecBesideUs(codec);
  for (; *pattern != L'\0'; ++pattern) {
    const wchar_t* with = nullptr;
    if (pattern[0] == L'%')
      with = pattern[1] == L'D'   ? decoderClass
             : pattern[1] == L'H' ? handlerClass
             : pattern[1] == L'M' ? reinterpret_cast<const wchar_t*>(codec)
                                  : nullptr;
    if (with == nullptr) {
      *out++ = *pattern;
      continue;
    }
    while (*with != L'\0') *out++ = *with++;
    ++pattern;
  }
  *out = L'\0';
}

bool ReadValue(HKEY hive, Root root, const wchar_t* key, const wchar_t* name, DWORD* type,
               BYTE* data, DWORD* size, REGSAM view) {
  wchar_t path[2 * kPathChars] = {};
  lstrcpynW(path, kRootPaths[root], kPathChars);
  Fill(key, path + lstrlenW(path));
  if (root == kCurrentVersion64) view = KEY_WOW64_64KEY;
  HKEY opened;
  if (RegOpenKeyExW(hive, path, 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) return false;
  const bool keyOnly = name == nullptr && data == nullptr;
  const LONG status =
      keyOnly ? ERROR_SUCCESS : RegQueryValueExW(opened, name, nullptr, type, data, size);
  RegCloseKey(opened);
  return status == ERROR_SUCCESS;
}

void LearnClasses() {
  decoderClass[0] = handlerClass[0] = L'\0';
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapDecoderInfo* info = nullptr;
  CLSID clsid = {};
  if (SUCCEEDED(factory->CreateDecoder(kContainerFormat, nullptr, &decoder)) &&
      SUCCEEDED(decoder->GetDecoderInfo(&info)) && SUCCEEDED(info->GetCLSID(&clsid)))
    StringFromGUID2(clsid, decoderClass, 40);
  if (info != nullptr) info->Release();
  if (decoder != nullptr) decoder->Release();
  DWORD type = 0, size = sizeof handlerClass;
  ReadValue(HKEY_LOCAL_MACHINE, kCurrentVersion, L"PropertySystem\\PropertyHandlers\\.wpp", nullptr,
            &type, reinterpret_cast<BYTE*>(handlerClass), &size);
}

void ExpectRegistry(HKEY hive, bool registered, bool sharedStay) {
  const bool user = hive == HKEY_CURRENT_USER;
  for (const Expected& e : kExpected) {
    if (user && e.root != kClasses) continue;
    const bool want = !(e.flags & kNever) &&
                      (registered || (sharedStay && !(e.flags & kOneEach))) &&
                      !(user && (e.flags & kMachineOnly));
    wchar_t text[kPathChars] = {};
    DWORD type = 0, size = sizeof text;
    const bool keyOnly = e.type == REG_NONE && e.text == nullptr;
    const bool there = ReadValue(hive, e.root, e.key, e.name, &type,
                                 keyOnly ? nullptr : reinterpret_cast<BYTE*>(text), &size);
    char what[160];
    int at = 0;
    for (const wchar_t* c = e.name != nullptr ? e.name : e.key; *c != L'\0' && at < 150; ++c)
      what[at++] = static_cast<char>(*c);
    what[at] = '\0';
    if (!Expect(there == want, what) || !there || keyOnly) continue;
    wchar_t filled[kPathChars];
    bool same = type == e.type;
    if (e.type == REG_DWORD)
      same = same && size == 4 && wpp::LoadLe32(reinterpret_cast<const uint8_t*>(text)) == e.number;
    else if (e.type == REG_BINARY)
      same = same && size == 1 && reinterpret_cast<BYTE*>(text)[0] == e.number;
    else if (e.type == REG_NONE)
      same = same && size == 0;
    else
      same = same && (Fill(e.text, filled), lstrcmpiW(text, filled) == 0);
    Expect(same, what);
  }
  // Under the ProgID, and under the file type whoever owns it.
  const wchar_t* const listKeys[] = {L"wpp.Image.1", L"SystemFileAssociations\\.wpp"};
  for (const wchar_t* owner : listKeys)
    for (const wchar_t* list : kPropertyLists) {
      wchar_t text[kPathChars] = {};
      DWORD type = 0, size = sizeof text;
      const bool there =
          ReadValue(hive, kClasses, owner, list, &type, reinterpret_cast<BYTE*>(text), &size);
      bool names = false;
      const wchar_t* want = L"System.Image.Dimensions";
      for (int i = 0; there && text[i] != L'\0' && !names; ++i) {
        int same = 0;
        while (want[same] != L'\0' && text[i + same] == want[same]) ++same;
        names = want[same] == L'\0';
      }
      Expect(there == (registered || sharedStay) && there == names, "a property list");
    }
}

}  // namespace wictest
