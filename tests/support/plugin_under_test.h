// The plug-in under test, as a viewer loads it, for the contract tests
// (natively against wpp.so, under Wine against wpp.spi and wpp.sph) and the
// fault tests, and what they share: its results and progress recorded, and
// pictures requested from memory or from a file.
#pragma once

#include "host/plugin_loader.h"
#include "platform/platform.h"
#include "tests/support/bytes_and_files.h"
#include "wpp/wpp.h"

// The plug-in under test, loaded once for the whole program, and its file.
const LoadedPlugin& Plugin();
const std::string& PluginPath();

// A picture the plug-in handed over; the test frees it as a host does.
struct Dib {
  PluginResult result = NotImplemented;
  BlockHandle info = nullptr;
  BlockHandle bits = nullptr;
  ~Dib() {
    if (info != nullptr) LocalFree(info);
    if (bits != nullptr) LocalFree(bits);
  }
  const uint8_t* infoBytes() const { return static_cast<const uint8_t*>(info); }
  const uint8_t* bitsBytes() const { return static_cast<const uint8_t*>(bits); }
  size_t bitsSize() const { return bits == nullptr ? 0 : LocalSize(bits); }
};

// Records every progress call and answers with a planned value per call.
struct ProgressLog {
  struct Call {
    int32_t numerator, denominator;
    intptr_t userData;
  };
  std::vector<Call> calls;
  int stopAtCall = 0;  // 1: stop at the first call, 2: at the second, 0: never
};

// Our progress callback; userData is the address of a ProgressLog.
int32_t WPP_CALL RecordProgress(int32_t numerator, int32_t denominator, intptr_t userData);

// A source a host may name, and what a request on it must give.
struct SourceCase {
  const char* what;
  const char* source;
  intptr_t offsetOrLength;
  uint32_t mode;
  PluginResult want;
};

// Bytes as a host names them in memory mode: their address and their length.
inline const char* MemoryOf(const testwpp::Bytes& b) {
  return reinterpret_cast<const char*>(b.data());
}
inline intptr_t LengthOf(const testwpp::Bytes& b) { return static_cast<intptr_t>(b.size()); }

// Runs GetPicture on bytes in memory, or written to a file at offset 0.
void PictureFromMemory(const testwpp::Bytes& bytes, Dib* dib, ProgressProc progress = nullptr,
                       intptr_t userData = 0);
void PictureFromFile(const testwpp::Bytes& bytes, Dib* dib, ProgressProc progress = nullptr,
                     intptr_t userData = 0);
