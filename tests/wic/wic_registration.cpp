// The WIC test's registration cases: regsvr32 as a user runs it,
// machine-wide and for the current user, beside the other width's codec and
// beside another program's .wpp type, and a registration that fails part way;
// the registry read back value by value, and compared whole before
// registering and after unregistering.

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

// The classes of the whole machine and of the user, as regedit exports them.
struct Snapshot {
  uint8_t* bytes[2];
  uint32_t size[2];
};
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
bool SameSnapshot(const Snapshot& a, const Snapshot& b) {
  for (int i = 0; i < 2; ++i) {
    if (a.size[i] != b.size[i] || (a.bytes[i] == nullptr) != (b.bytes[i] == nullptr)) return false;
    for (uint32_t at = 0; a.bytes[i] != nullptr && at < a.size[i]; ++at)
      if (a.bytes[i][at] != b.bytes[i][at]) return false;
  }
  return true;
}
void FreeSnapshot(const Snapshot& s) {
  for (uint8_t* bytes : s.bytes) LocalFree(bytes);
}
// Whether the registry's classes are now as they were at that snapshot.
bool ClassesAsAt(const Snapshot& then) {
  const Snapshot now = TakeSnapshot();
  const bool same = SameSnapshot(then, now);
  FreeSnapshot(now);
  return same;
}

// Whether WIC opens a WPP file now.
bool WicOpensWpp() {
  const Picture p = MakePicture(3, 2);
  char16_t path[kPathChars];
  bool opens = false;
  if (WriteTempFile(u"wpp_wic_probe.wpp", p.bytes, p.size, path)) {
    IWICBitmapDecoder* decoder = nullptr;
    opens = SUCCEEDED(DecoderForFile(path, &decoder));
    if (decoder != nullptr) decoder->Release();
    DeleteFileW(reinterpret_cast<const wchar_t*>(path));
  }
  LocalFree(p.bytes);
  return opens;
}

// A value that another program wrote into the .wpp key, under HKEY_CLASSES_ROOT.
struct ForeignValue {
  const wchar_t* key;
  const wchar_t* name;
  const wchar_t* text;
};
const ForeignValue kForeign[] = {
    {L".wpp", nullptr, L"another.Image"},
    {L".wpp", L"Content Type", L"image/x-another-wpp"},
    {L".wpp", L"OtherProgram", L"its own"},
    {L".wpp\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}", nullptr,
     L"{00000000-1111-2222-3333-444444444444}"},
};
void WriteForeign() {
  for (const ForeignValue& f : kForeign) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, f.key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      continue;
    RegSetValueExW(key, f.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(f.text),
                   (lstrlenW(f.text) + 1) * sizeof(wchar_t));
    RegCloseKey(key);
  }
}
bool ForeignKept() {
  for (const ForeignValue& f : kForeign) {
    wchar_t have[64];
    DWORD size = sizeof have;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, f.key, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
      return false;
    const LONG status =
        RegQueryValueExW(key, f.name, nullptr, nullptr, reinterpret_cast<BYTE*>(have), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || lstrcmpW(have, f.text) != 0) return false;
  }
  return true;
}
void RemoveForeign() {
  const wchar_t* const keys[] = {kForeign[3].key, L".wpp\\ShellEx", L".wpp"};
  for (const wchar_t* key : keys) RegDeleteKeyW(HKEY_CLASSES_ROOT, key);
}

// The registry as Windows reads it, spelled here apart from the codec's own
// table: %D and %H stand for the decoder's and the property handler's class
// as WIC and the registry name them, %M for the codec's path.
enum Root : uint8_t { kClasses, kCurrentVersion, kCurrentVersion64 };
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

wchar_t decoderClass[40], handlerClass[40];

// The text with %D, %H and %M filled in.
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

// A value's type and bytes; false when the key or the value is not there.
bool ReadValue(HKEY hive, Root root, const wchar_t* key, const wchar_t* name, DWORD* type,
               BYTE* data, DWORD* size, REGSAM view = 0) {
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

// The class names that the checks fill in, found as WIC and the shell find
// them, never spelled here.
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

// Every expected value, read back from the hive: there, exactly, where the
// codec is registered there (and for the shared ones, while another width's
// is), and gone elsewhere.
void ExpectRegistry(HKEY hive, bool registered, bool sharedStay = false) {
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
  for (const wchar_t* list : kPropertyLists) {
    wchar_t text[kPathChars] = {};
    DWORD type = 0, size = sizeof text;
    const bool there = ReadValue(hive, kClasses, L"wpp.Image.1", list, &type,
                                 reinterpret_cast<BYTE*>(text), &size);
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

// The other width's codec beside ours. Where its programs run here (the
// 64-bit test, handed the x86 build's folder), for real: registered by the
// system's 32-bit regsvr32, and the x86 WIC test decoding through it. Where
// they cannot (the ARM64 Wine has no x86 side; a 32-bit test under WoW64 is
// handed no 64-bit build), a stand-in: its class's key in the other view, as
// its registration writes it. On 32-bit Windows there is no other view.
enum class OtherWidth : uint8_t { kNone, kStandIn, kReal };
char16_t otherFolder[kPathChars];

OtherWidth OtherWidthHere() {
  GetEnvironmentVariableW(L"WPP_OTHER_WIDTH", reinterpret_cast<wchar_t*>(otherFolder), kPathChars);
  if (sizeof(void*) == 8) return otherFolder[0] != u'\0' ? OtherWidth::kReal : OtherWidth::kStandIn;
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  return wow64 ? OtherWidth::kStandIn : OtherWidth::kNone;
}

// A command line naming a file of the other width's folder, in quotes.
void OtherCommand(char16_t* line, const char16_t* program, const char16_t* file,
                  const char16_t* tail) {
  line[0] = u'\0';
  if (program[0] != u'\0') {
    Append(line, program);
    Append(line, u" ");
  }
  Append(line, u"\"");
  Append(line, otherFolder);
  Append(line, u"\\");
  Append(line, file);
  Append(line, u"\"");
  Append(line, tail);
}

// Registers (or removes) the other width's decoder.
bool RegisterOtherWidth(OtherWidth kind, bool write) {
  if (kind == OtherWidth::kReal) {
    char16_t regsvr32[kPathChars], line[4 * kPathChars];
    GetSystemWow64DirectoryW(reinterpret_cast<wchar_t*>(regsvr32), kPathChars);
    Append(regsvr32, write ? u"\\regsvr32.exe /s" : u"\\regsvr32.exe /s /u");
    OtherCommand(line, regsvr32, u"wppwic.dll", u"");
    return Run(line) == 0;
  }
  wchar_t path[kPathChars];
  Fill(L"Software\\Classes\\CLSID\\%D\\InprocServer32", path);
  const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  if (!write) {
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, otherView, 0);
    path[lstrlenW(path) - lstrlenW(L"\\InprocServer32")] = L'\0';
    return RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, otherView, 0) == ERROR_SUCCESS;
  }
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE | otherView, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return false;
  const wchar_t other[] = L"C:\\Program Files\\wpp\\other\\wppwic.dll";
  const bool ok = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(other),
                                 sizeof other) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

// Whether the x86 WIC test, run as a program of its own, decodes a WPP file
// through the codec that the registry names for it.
bool OtherWidthDecodes() {
  const Picture p = MakePicture(3, 2);
  char16_t path[kPathChars], folder[kPathChars], line[4 * kPathChars];
  bool decodes = false;
  GetTempPathW(kPathChars, reinterpret_cast<wchar_t*>(folder));
  if (WriteTempFile(u"wpp_wic_other.wpp", p.bytes, p.size, path)) {
    char16_t tail[3 * kPathChars] = u" --installed --png \"";
    Append(tail, folder);
    Append(tail, u"\" \"");
    Append(tail, path);
    Append(tail, u"\"");
    OtherCommand(line, u"", u"wic_test.exe", tail);
    decodes = Run(line) == 0;
    DeleteFileW(reinterpret_cast<const wchar_t*>(path));
    Append(folder, u"wpp_wic_other.png");
    DeleteFileW(reinterpret_cast<const wchar_t*>(folder));
  }
  LocalFree(p.bytes);
  return decodes;
}

// Where two views exist: the values both widths share stay until the last
// width is unregistered, whichever goes first, and each width's programs
// decode through their own codec alone.
void CheckBesideOtherWidth(OtherWidth kind, const Snapshot& before) {
  caseName = kind == OtherWidth::kReal ? "registration beside the x86 codec"
                                       : "registration beside the other width's (a stand-in)";
  const bool real = kind == OtherWidth::kReal;
  Expect(Regsvr32(u"/s", false), "regsvr32");
  if (!Expect(RegisterOtherWidth(kind, true), "the other width's decoder registered")) {
    Regsvr32(u"/s", true);
    return;
  }
  ExpectRegistry(HKEY_LOCAL_MACHINE, true);  // our view is still ours alone
  if (real) Expect(OtherWidthDecodes(), "the x86 program decodes through the x86 codec");
  Expect(Regsvr32(u"/s", true), "regsvr32 /u");
  ExpectRegistry(HKEY_LOCAL_MACHINE, false, true);
  Expect(!WicOpensWpp(), "ours is gone");
  if (real) Expect(OtherWidthDecodes(), "and the x86 program still decodes");
  Expect(Regsvr32(u"/s", false), "regsvr32 once more");
  Expect(RegisterOtherWidth(kind, false), "the other width's decoder removed");
  ExpectRegistry(HKEY_LOCAL_MACHINE, true);
  Expect(WicOpensWpp(), "ours still decodes");
  if (real) Expect(!OtherWidthDecodes(), "and the x86 program no longer does");
  Expect(Regsvr32(u"/s", true), "regsvr32 /u of the last");
  ExpectRegistry(HKEY_LOCAL_MACHINE, false);
  Expect(ClassesAsAt(before), "the last unregistering removes the shared values");
}

// 32-bit Windows has one view, which the other view's flag opens too: our
// one width's unregistering must not take our own class for the other
// width's, and so removes the shared values.
void CheckOneView(const Snapshot& before) {
  caseName = "registration with one view (32-bit Windows)";
  Expect(Regsvr32(u"/s", false), "regsvr32");
  DWORD type = 0, size = 0;
  Expect(ReadValue(HKEY_LOCAL_MACHINE, kClasses, L"CLSID\\%D\\InprocServer32", nullptr, &type,
                   nullptr, &size, KEY_WOW64_64KEY),
         "the other view's flag finds our own class");
  Expect(Regsvr32(u"/s", true), "regsvr32 /u");
  ExpectRegistry(HKEY_LOCAL_MACHINE, false);
  Expect(ClassesAsAt(before), "unregistering our one width removes the shared values");
}

// A registration that fails part way: a copy of the codec at a path longer
// than the registry's text of ours takes, which fails at its class's
// InprocServer32, after it has written the class's first values.
void CheckFailedRegistration(const Snapshot& before) {
  caseName = "a registration that fails part way";
  // Folders of 200 characters, three deep: past the 600 that the codec's
  // registry texts hold. In a block of their own, as no frame may need a stack probe.
  constexpr uint32_t kLongChars = 720, kFolderChars = 200, kDepth = 3;
  auto* folder = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, 2 * kLongChars * sizeof(wchar_t)));
  wchar_t* copy = folder + kLongChars;
  GetTempPathW(kPathChars, folder);
  for (uint32_t depth = 0; depth < kDepth; ++depth) {
    wchar_t* end = folder + lstrlenW(folder);
    for (uint32_t i = 0; i < kFolderChars; ++i) end[i] = static_cast<wchar_t>(L'a' + depth);
    end[kFolderChars] = L'\\';
    end[kFolderChars + 1] = L'\0';
    CreateDirectoryW(folder, nullptr);
  }
  lstrcpynW(copy, folder, kLongChars);
  lstrcpynW(copy + lstrlenW(copy), L"wppwic.dll", 16);
  char16_t codec[kPathChars];
  CodecBesideUs(codec);
  HMODULE module = nullptr;
  if (Expect(CopyFileW(reinterpret_cast<const wchar_t*>(codec), copy, FALSE) != FALSE,
             "the codec copied to a long path"))
    module = LoadLibraryW(copy);
  auto* registerServer =
      module == nullptr ? nullptr
                        : reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                              reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
  if (Expect(registerServer != nullptr, "the copy loaded")) {
    Expect(FAILED(registerServer()), "the copy's registration fails");
    ExpectRegistry(HKEY_LOCAL_MACHINE, false);
    Expect(ClassesAsAt(before), "and leaves the registry as it was");
    Expect(Regsvr32(u"/s", false), "regsvr32");
    Expect(FAILED(registerServer()), "the copy's registration over ours fails");
    ExpectRegistry(HKEY_LOCAL_MACHINE, true);
    Expect(WicOpensWpp(), "and the earlier registration works");
    Expect(Regsvr32(u"/s", true), "regsvr32 /u");
  }
  if (module != nullptr) FreeLibrary(module);
  DeleteFileW(copy);
  for (uint32_t depth = 0; depth < kDepth; ++depth) {
    RemoveDirectoryW(folder);
    folder[lstrlenW(folder) - kFolderChars - 1] = L'\0';
  }
  LocalFree(folder);
}

}  // namespace

void CheckRegistration() {
  caseName = "registration";
  // Whatever an interrupted run left is gone first, and whatever a prefix's
  // first registration sets off once, in Wine's shell, has happened.
  Regsvr32(u"/s", false);
  Regsvr32(u"/s", true);
  Regsvr32(u"/s /n /i:user", true);
  const Snapshot before = TakeSnapshot();
  Expect(!WicOpensWpp(), "no WPP file opens before registering");

  Expect(Regsvr32(u"/s", false), "regsvr32");
  const Snapshot once = TakeSnapshot();
  LearnClasses();
  Expect(decoderClass[0] != L'\0' && handlerClass[0] != L'\0', "both classes found");
  ExpectRegistry(HKEY_LOCAL_MACHINE, true);
  ExpectRegistry(HKEY_CURRENT_USER, false);
  Expect(Regsvr32(u"/s", false), "regsvr32 again");
  Expect(ClassesAsAt(once), "registering twice is registering once");
  FreeSnapshot(once);
  CheckDecoding();
  CheckObjects();
  CheckProperties();
  caseName = "registration";
  Expect(Regsvr32(u"/s", true), "regsvr32 /u");
  ExpectRegistry(HKEY_LOCAL_MACHINE, false);
  Expect(ClassesAsAt(before), "unregistering removes every key and value it wrote");
  Expect(!WicOpensWpp(), "no WPP file opens after unregistering");

  const OtherWidth other = OtherWidthHere();
  if (other == OtherWidth::kNone)
    CheckOneView(before);
  else
    CheckBesideOtherWidth(other, before);
  CheckFailedRegistration(before);

  caseName = "registration beside another program's .wpp type";
  WriteForeign();
  const Snapshot foreign = TakeSnapshot();
  Expect(Regsvr32(u"/s", false), "regsvr32");
  Expect(ForeignKept(), "its values stay while we are registered");
  Expect(WicOpensWpp(), "a WPP file opens");
  Expect(Regsvr32(u"/s", true), "regsvr32 /u");
  Expect(ClassesAsAt(foreign), "unregistering leaves what the other program wrote");
  FreeSnapshot(foreign);
  RemoveForeign();

  caseName = "registration for the current user";
  // Wine's HKEY_CLASSES_ROOT has no view of the user's classes, so WIC under
  // Wine does not find the codec there; Windows merges them in.
  Expect(Regsvr32(u"/s /n /i:user", false), "regsvr32 /n /i:user");
  ExpectRegistry(HKEY_CURRENT_USER, true);
  ExpectRegistry(HKEY_LOCAL_MACHINE, false);
  Expect(Regsvr32(u"/s /n /i:user", true), "regsvr32 /u /n /i:user");
  ExpectRegistry(HKEY_CURRENT_USER, false);
  Expect(ClassesAsAt(before), "unregistering leaves the user's classes as they were");
  FreeSnapshot(before);
}

}  // namespace wictest
