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
  const wchar_t* const keys[] = {kForeign[2].key, L".wpp\\ShellEx", L".wpp"};
  for (const wchar_t* key : keys) RegDeleteKeyW(HKEY_CLASSES_ROOT, key);
}

void CheckRegistration() {
  caseName = "registration";
  // Whatever an interrupted run left is gone first.
  Regsvr32(u"/s", true);
  Regsvr32(u"/s /n /i:user", true);
  const Snapshot before = TakeSnapshot();
  Expect(!WicOpensWpp(), "no WPP file opens before registering");

  Expect(Regsvr32(u"/s", false), "regsvr32");
  const Snapshot once = TakeSnapshot();
  Expect(!SameSnapshot(before, once), "registering writes");
  Expect(Regsvr32(u"/s", false), "regsvr32 again");
  Expect(ClassesAsAt(once), "registering twice is registering once");
  FreeSnapshot(once);
  CheckDecoding();
  caseName = "registration";
  Expect(Regsvr32(u"/s", true), "regsvr32 /u");
  Expect(ClassesAsAt(before), "unregistering removes every key and value it wrote");
  Expect(!WicOpensWpp(), "no WPP file opens after unregistering");

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
  Expect(!ClassesAsAt(before), "the user's classes hold the codec");
  Expect(Regsvr32(u"/s /n /i:user", true), "regsvr32 /u /n /i:user");
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
  const bool more = NextArgument(&line, word);
  // --png-installed: the codec is already registered (by its installer), so
  // WIC alone must find it.
  const bool installed = more && SameWideText(word, "--png-installed");
  const bool png = installed || (more && SameWideText(word, "--png"));
  if (more && SameWideText(word, "--bench")) {
    if (Expect(Regsvr32(u"/s", false), "regsvr32")) {
      RunBench();
      Expect(Regsvr32(u"/s", true), "regsvr32 /u");
    }
  } else if (png) {
    // Each file as it comes: no frame of ours needs a stack probe.
    char16_t folder[kPathChars];
    caseName = "converting to PNG";
    if (Expect(NextArgument(&line, folder), "usage: wic_test --png FOLDER FILE.wpp...") &&
        (installed || Expect(Regsvr32(u"/s", false), "regsvr32"))) {
      while (NextArgument(&line, word)) Expect(ConvertToPng(folder, word), "converted");
      if (!installed) Expect(Regsvr32(u"/s", true), "regsvr32 /u");
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
