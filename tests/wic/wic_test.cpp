// The WIC test's start and its registration checks: regsvr32 as a user runs
// it, machine-wide and for the current user, and the registry compared whole
// before registering and after unregistering.

#include "tests/wic/wic_test.h"

#include "tests/support/version_resource.h"

namespace wictest {

IWICImagingFactory* factory;

void CodecBesideUs(char16_t* path) {
  ProgramFolder(path);
  Append(path, u"wppwic.dll");
}

int32_t Run(const char16_t* commandLine) {
  char16_t line[2 * kPathChars];
  line[0] = u'\0';
  Append(line, commandLine);  // CreateProcessW may write into its line
  // Quietly: what the tools print (regedit, of a key that is not there) is
  // not ours to show.
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE nothing =
      CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = nothing;
  PROCESS_INFORMATION process = {};
  const BOOL started = CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(line), nullptr, nullptr,
                                      TRUE, 0, nullptr, nullptr, &startup, &process);
  if (nothing != INVALID_HANDLE_VALUE) CloseHandle(nothing);
  if (!started) return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int32_t>(status);
}

bool Regsvr32(const char16_t* switches, bool unregister) {
  char16_t line[2 * kPathChars] = u"regsvr32.exe ";
  Append(line, switches);
  if (unregister) Append(line, u" /u");
  Append(line, u" \"");
  char16_t codec[kPathChars];
  CodecBesideUs(codec);
  Append(line, codec);
  Append(line, u"\"");
  return Run(line) == 0;
}

HRESULT DecoderForFile(const char16_t* path, IWICBitmapDecoder** decoder) {
  return factory->CreateDecoderFromFilename(reinterpret_cast<const wchar_t*>(path), nullptr,
                                            GENERIC_READ, WICDecodeMetadataCacheOnDemand, decoder);
}

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
  bool machineOnly;  // not written for one user
  bool oneEach;      // in each width's own view, not shared between widths
  bool never;        // must not be there at all
};
constexpr const wchar_t* kRootPaths[] = {L"Software\\Classes\\",
                                         L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\",
                                         L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"};
#define THUMBNAIL_KEY L"ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}"
#define THUMBNAIL_PROVIDER L"{C7657C4A-9F68-40FA-A4DF-96BC08EB3551}"
const Expected kExpected[] = {
    {kClasses, L"CLSID\\%D", nullptr, REG_SZ, L"WPP Decoder", 0, false, true},
    {kClasses, L"CLSID\\%D", L"FriendlyName", REG_SZ, L"WPP Decoder", 0, false, true},
    {kClasses, L"CLSID\\%D", L"Vendor", REG_SZ, L"{327C235B-1C19-4D0C-9704-392635758536}", 0, false,
     true},
    {kClasses, L"CLSID\\%D", L"ContainerFormat", REG_SZ, L"{45DCEDC9-B7DF-4229-B55D-9F9826561DD2}",
     0, false, true},
    {kClasses, L"CLSID\\%D", L"FileExtensions", REG_SZ, L".wpp", 0, false, true},
    {kClasses, L"CLSID\\%D", L"MimeTypes", REG_SZ, L"image/x-wpp", 0, false, true},
    {kClasses, L"CLSID\\%D", L"SupportAnimation", REG_DWORD, nullptr, 0, false, true},
    {kClasses, L"CLSID\\%D", L"SupportChromakey", REG_DWORD, nullptr, 0, false, true},
    {kClasses, L"CLSID\\%D", L"SupportLossless", REG_DWORD, nullptr, 1, false, true},
    {kClasses, L"CLSID\\%D", L"SupportMultiframe", REG_DWORD, nullptr, 0, false, true},
    {kClasses, L"CLSID\\%D", L"SupportsLossless", REG_NONE, nullptr, 0, false, true, true},
    {kClasses, L"CLSID\\%D\\InprocServer32", nullptr, REG_SZ, L"%M", 0, false, true},
    {kClasses, L"CLSID\\%D\\InprocServer32", L"ThreadingModel", REG_SZ, L"Both", 0, false, true},
    {kClasses, L"CLSID\\%D\\Formats\\{6FDDC324-4E03-4BFE-B185-3D77768DC90A}", nullptr, REG_NONE,
     nullptr, 0, false, true},
    {kClasses, L"CLSID\\%D\\Patterns\\0", L"Position", REG_DWORD, nullptr, 16, false, true},
    {kClasses, L"CLSID\\%D\\Patterns\\0", L"Length", REG_DWORD, nullptr, 1, false, true},
    {kClasses, L"CLSID\\%D\\Patterns\\0", L"Pattern", REG_BINARY, nullptr, 0, false, true},
    {kClasses, L"CLSID\\%D\\Patterns\\0", L"Mask", REG_BINARY, nullptr, 1, false, true},
    {kClasses, L"CLSID\\%D\\Patterns\\0", L"EndOfStream", REG_DWORD, nullptr, 0, false, true},
    {kClasses, L"CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance\\%D", L"CLSID", REG_SZ,
     L"%D", 0, false, true},
    {kClasses, L"CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance\\%D", L"FriendlyName",
     REG_SZ, L"WPP Decoder", 0, false, true},
    {kClasses, L"CLSID\\%H\\InprocServer32", nullptr, REG_SZ, L"%M", 0, true, true},
    {kClasses, L"CLSID\\%H\\InprocServer32", L"ThreadingModel", REG_SZ, L"Both", 0, true, true},
    {kClasses, L"wpp.Image.1", nullptr, REG_SZ, L"WPP image"},
    {kClasses, L".wpp", nullptr, REG_SZ, L"wpp.Image.1"},
    {kClasses, L".wpp", L"Content Type", REG_SZ, L"image/x-wpp"},
    {kClasses, L".wpp", L"PerceivedType", REG_SZ, L"image"},
    {kClasses, L".wpp\\OpenWithProgids", L"wpp.Image.1", REG_NONE, L""},
    {kClasses, L".wpp\\" THUMBNAIL_KEY, nullptr, REG_SZ, THUMBNAIL_PROVIDER},
    {kClasses, L"SystemFileAssociations\\.wpp\\" THUMBNAIL_KEY, nullptr, REG_SZ,
     THUMBNAIL_PROVIDER},
    // A preview handler's key naming a class that is none.
    {kClasses, L".wpp\\ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}", nullptr, REG_NONE, nullptr,
     0, false, false, true},
    {kCurrentVersion, L"PropertySystem\\PropertyHandlers\\.wpp", nullptr, REG_SZ, L"%H", 0, true,
     true},
    {kCurrentVersion64, L"Explorer\\KindMap", L".wpp", REG_SZ, L"picture", 0, true},
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
    const bool want =
        !e.never && (registered || (sharedStay && !e.oneEach)) && !(user && e.machineOnly);
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
      same = same && size == 4 && *reinterpret_cast<DWORD*>(text) == e.number;
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

// The other width's decoder, registered beside ours: the 64-bit test cannot
// run the 32-bit regsvr32, so it writes that width's CLSID key in the other
// view itself, as the 32-bit registration would.
bool StandInForOtherWidth(bool write) {
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

void CheckBothWidths(const Snapshot& before) {
  caseName = "registration beside the other width's";
  Expect(Regsvr32(u"/s", false), "regsvr32");
  if (!Expect(StandInForOtherWidth(true), "the other width's decoder written")) return;
  ExpectRegistry(HKEY_LOCAL_MACHINE, true);  // our view is still ours alone
  Expect(Regsvr32(u"/s", true), "regsvr32 /u");
  ExpectRegistry(HKEY_LOCAL_MACHINE, false, true);
  Expect(Regsvr32(u"/s", false), "regsvr32 once more");
  ExpectRegistry(HKEY_LOCAL_MACHINE, true);
  Expect(StandInForOtherWidth(false), "the other width's decoder removed");
  Expect(Regsvr32(u"/s", true), "regsvr32 /u of the last");
  ExpectRegistry(HKEY_LOCAL_MACHINE, false);
  Expect(ClassesAsAt(before), "the last unregistering removes the shared values");
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

// One regsvr32 start each way, then the registry and WIC asked in-process.
void CheckEmulated() {
  caseName = "registration";
  if (!Expect(Regsvr32(u"/s", false), "regsvr32")) return;
  LearnClasses();
  Expect(decoderClass[0] != L'\0', "the decoder's class found through WIC");
  CheckDecodingBriefly();
  caseName = "registration";
  Expect(Regsvr32(u"/s", true), "regsvr32 /u");
  DWORD type = 0, size = 0;
  Expect(!ReadValue(HKEY_LOCAL_MACHINE, kClasses, L"CLSID\\%D", nullptr, &type, nullptr, &size),
         "the decoder's class is gone");
  Expect(!ReadValue(HKEY_LOCAL_MACHINE, kClasses,
                    L"CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance\\%D", nullptr, &type,
                    nullptr, &size),
         "its place among WIC's decoders is gone");
  Expect(!WicOpensWpp(), "no WPP file opens after unregistering");
}

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
  CheckProperties();
  caseName = "registration";
  Expect(Regsvr32(u"/s", true), "regsvr32 /u");
  ExpectRegistry(HKEY_LOCAL_MACHINE, false);
  Expect(ClassesAsAt(before), "unregistering removes every key and value it wrote");
  Expect(!WicOpensWpp(), "no WPP file opens after unregistering");

  CheckBothWidths(before);
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

}  // namespace
}  // namespace wictest

extern "C" void WINAPI Start() {
  using namespace wictest;
  const char16_t* line = reinterpret_cast<const char16_t*>(GetCommandLineW());
  char16_t word[kPathChars];
  NextArgument(&line, word);  // the program's own name
  caseName = "starting COM and WIC";
  if (!Expect(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)), "CoInitializeEx") ||
      !Expect(
          SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))),
          "the imaging factory"))
    Finish("wic test");
  bool more = NextArgument(&line, word);
  // --installed: the codec is registered already (by its installer), so WIC
  // and the shell's own lookup alone must find it; no regsvr32 around the mode.
  const bool installed = more && SameWideText(word, "--installed");
  if (installed) more = NextArgument(&line, word);
  const auto registered = [&] { return installed || Expect(Regsvr32(u"/s", false), "regsvr32"); };
  const auto unregister = [&] {
    if (!installed) Expect(Regsvr32(u"/s", true), "regsvr32 /u");
  };
  const bool png = more && SameWideText(word, "--png");
  if (more && SameWideText(word, "--emulated")) {
    CheckEmulated();
  } else if (more && SameWideText(word, "--details")) {
    caseName = "the property handler";
    if (registered()) {
      while (NextArgument(&line, word)) {
        Print("file: ");
        Expect(PrintDetails(word), "answered");
      }
      unregister();
    }
  } else if (more && SameWideText(word, "--bench")) {
    if (Expect(Regsvr32(u"/s", false), "regsvr32")) {
      RunBench();
      Expect(Regsvr32(u"/s", true), "regsvr32 /u");
    }
  } else if (png) {
    // Each file as it comes: no frame of ours needs a stack probe.
    char16_t folder[kPathChars];
    caseName = "converting to PNG";
    if (Expect(NextArgument(&line, folder), "usage: wic_test --png FOLDER FILE.wpp...") &&
        registered()) {
      while (NextArgument(&line, word)) Expect(ConvertToPng(folder, word), "converted");
      unregister();
    }
  } else {
    caseName = "the version resource";
    char16_t codec[kPathChars];
    CodecBesideUs(codec);
    const char* problem = testwpp::VersionResourceProblem(
        reinterpret_cast<const wchar_t*>(codec), L"wppwic.dll", L"WPP image decoder for WIC");
    Expect(problem == nullptr, problem);
    CheckRegistration();
  }
  factory->Release();
  CoUninitialize();
  Finish(png ? "wic_test --png" : "wic test");
}
