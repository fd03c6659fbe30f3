// wpp2bmp's conversion for targets with no C or C++ runtime (ARM64 Windows),
// so that the demo can show the ARM64 plug-in's pictures beside the others':
//   bare_wpp2bmp.exe -o FOLDER INPUT.wpp...
// Each input goes through the plug-in next to this program, as a viewer calls
// it (the support test on the file's head, then GetPictureW by its UTF-16
// path), into FOLDER\NAME.bmp: a 14-byte file header, the plug-in's
// BITMAPINFOHEADER and its biSizeImage bytes of rows, as wpp2bmp writes it.
// Exit status: 0 every input converted, 1 a bad command line or no plug-in,
// 2 an input failed (the first failure's line says why).

#include "host/bare_host.h"
#include "platform/platform.h"
#include "plugin/plugin.h"
#include "tools/bmp_file_header.h"
#include "wpp/bytes.h"

namespace {

using bare::Print;

// Converts one input; returns the reason it failed, or null.
const char* Convert(const EntryPoints& plugin, const char16_t* input, const char16_t* folder) {
  // The support test on the file's head, as a viewer hands it over.
  HANDLE file = bare::OpenToRead(input);
  if (file == INVALID_HANDLE_VALUE) return "cannot be opened";
  auto* head = static_cast<uint8_t*>(LocalAlloc(LMEM_ZEROINIT, kSupportHeadBytes));
  DWORD read = 0;
  const bool readOk = head != nullptr && ReadFile(file, head, kSupportHeadBytes, &read, nullptr);
  CloseHandle(file);
  const int32_t supported = readOk ? plugin.isSupportedW(input, head) : 0;
  LocalFree(head);
  if (!readOk) return "cannot be read";
  if (supported != 1) return "not a WPP image";

  BlockHandle info = nullptr, bits = nullptr;
  const PluginResult result = plugin.getPictureW(input, 0, kFileMode, &info, &bits, nullptr, 0);
  if (result != Ok) return "the plug-in refused it";
  const auto* header = static_cast<const uint8_t*>(info);
  const uint32_t sizeImage = wpp::LoadLe32(header + 20);
  uint8_t fileHeader[kBmpFileHeaderSize];
  FillBmpFileHeader(sizeImage, fileHeader);

  char16_t path[bare::kPathChars];
  bare::OutputPath(folder, input, u".bmp", path);
  HANDLE out = CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  const bool written =
      out != INVALID_HANDLE_VALUE && bare::WriteAll(out, fileHeader, kBmpFileHeaderSize) &&
      bare::WriteAll(out, header, kBmpInfoHeaderSize) && bare::WriteAll(out, bits, sizeImage);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  LocalFree(info);
  LocalFree(bits);
  return written ? nullptr : "the BMP file cannot be written";
}

}  // namespace

extern "C" void WINAPI Start() {
  const char16_t* line = reinterpret_cast<const char16_t*>(GetCommandLineW());
  char16_t word[bare::kPathChars], folder[bare::kPathChars] = u".";
  bare::NextArgument(&line, word);  // the program's own name
  HMODULE module = bare::LoadPluginBesideUs();
  EntryPoints plugin;
  if (module == nullptr || bare::BindPlugin(module, &plugin) != nullptr || !plugin.hasWide()) {
    Print("bare_wpp2bmp: " WPP_PLUGIN_FILE " cannot be loaded as a plug-in\r\n");
    ExitProcess(1);
  }
  uint32_t status = 0;
  while (bare::NextArgument(&line, word)) {
    if (word[0] == u'-' && word[1] == u'o' && word[2] == u'\0') {
      if (!bare::NextArgument(&line, folder)) {
        Print("usage: bare_wpp2bmp.exe -o FOLDER INPUT.wpp...\r\n");
        ExitProcess(1);
      }
      continue;
    }
    const char* failure = Convert(plugin, word, folder);
    if (failure != nullptr) {
      Print("bare_wpp2bmp: an input failed: ", failure, "\r\n");
      if (status == 0) status = 2;
    }
  }
  FreeLibrary(module);
  ExitProcess(status);
}
