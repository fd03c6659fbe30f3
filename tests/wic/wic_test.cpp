// The WIC test's start, its modes, and the programs it runs as a user would.

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

bool ThreadsRun() {
  wchar_t value[4] = {};
  GetEnvironmentVariableW(L"WPP_NO_THREADS", value, 4);
  return value[0] != L'1';
}

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
  if (more && SameWideText(word, "--details")) {
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
