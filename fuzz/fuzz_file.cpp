// File mode: the bytes written to a file of this process's own, then the
// support test on a handle and both picture calls at an offset from the input.

#include <string.h>
#include <unistd.h>

#include "fuzz/fuzz_common.h"

namespace {

char filePath[64];

void RemoveFile() { unlink(filePath); }

const char* PathOfThisProcess() {
  if (filePath[0] == '\0') {
    snprintf(filePath, sizeof filePath, "/tmp/wpp_fuzz_%d.wpp", static_cast<int>(getpid()));
    atexit(RemoveFile);
  }
  return filePath;
}

bool WriteWholeFile(const char* path, const uint8_t* bytes, size_t size) {
  FILE* f = fopen(path, "wb");
  if (f == nullptr) return false;
  const bool ok = fwrite(bytes, 1, size, f) == size;
  return fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzwpp::Envelope e;
  if (!fuzzwpp::ReadEnvelope(data, size, &e)) return 0;
  const char* path = PathOfThisProcess();
  if (!WriteWholeFile(path, e.body, e.bodySize)) fuzzwpp::Fail("cannot write the input file");
  // The top bit set passes the offset as is (negative or far past the end);
  // otherwise it lands within the file or just past its end.
  const int32_t offset = (e.number & 0x80000000u) != 0
                             ? static_cast<int32_t>(e.number)
                             : static_cast<int32_t>(e.number % (e.bodySize + 2));

  const fuzzwpp::Held before;
  int32_t supported = -1;
  if (offset >= 0) {
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) fuzzwpp::Fail("cannot open the input file");
    if (SetFilePointer(file, offset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER)
      supported = IsSupported(nullptr, file);
    CloseHandle(file);
  }
  const PluginResult info = fuzzwpp::RunPictureCalls(
      path, offset, kFileMode, e.stopAtCall, offset >= 0 ? e.body + offset : nullptr, supported);
  if (info == ReadError) fuzzwpp::Fail("a read error on a readable file");
  before.ExpectNothingMore();
  return 0;
}
