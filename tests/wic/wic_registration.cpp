// The WIC test's registration cases: regsvr32 as a user runs it,
// machine-wide and for the current user, beside the other width's codec and
// beside another program's .wpp type, and a registration that fails part way;
// the registry read back value by value, and compared whole before
// registering and after unregistering.

#include "tests/wic/wic_test.h"
#include "wpp/bytes.h"

namespace wictest {
namespace {

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

// Appends the quoted name of a file in the other width's folder, and what follows it.
void AppendOther(char16_t* line, const char16_t* file, const char16_t* tail) {
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
    char16_t line[kPathChars];
    GetSystemWow64DirectoryW(reinterpret_cast<wchar_t*>(line), kPathChars);
    Append(line, write ? u"\\regsvr32.exe /s " : u"\\regsvr32.exe /s /u ");
    AppendOther(line, u"wppwic.dll", u"");
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
  char16_t path[kPathChars], folder[kPathChars], line[kPathChars] = u"";
  bool decodes = false;
  GetTempPathW(kPathChars, reinterpret_cast<wchar_t*>(folder));
  if (WriteTempFile(u"wpp_wic_other.wpp", p.bytes, p.size, path)) {
    AppendOther(line, u"wic_test.exe", u" --installed --png \"");
    Append(line, folder);
    Append(line, u"\" \"");
    Append(line, path);
    Append(line, u"\"");
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
