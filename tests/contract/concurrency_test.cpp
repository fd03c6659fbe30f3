// Several threads calling every entry point at once on the same file and the
// same memory block get exactly what one thread alone gets. The plug-in keeps
// no state between calls, so any difference is a shared-state bug.

#include <stddef.h>
#include <string.h>

#include <thread>

#include "tests/support/plugin_under_test.h"

using testwpp::Bytes;

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 6;

// Everything one round of calls produces, from the file [0] and from memory [1].
struct Outcome {
  int32_t supportedAddress = -1, supportedHandle = -1;
  PluginResult info[2] = {NotImplemented, NotImplemented};
  PluginResult picture[2] = {NotImplemented, NotImplemented};
  Bytes record[2];  // the record less its text handle
  Bytes dib[2];     // header block then bits block
};

Bytes RecordBytes(const PictureInfoRecord& info) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&info);
  // Every byte before the handle, the 64-bit record's padding too.
  return Bytes(p, p + offsetof(PictureInfoRecord, textHandle));
}

Bytes DibBytes(const Dib& dib) {
  Bytes out;
  if (dib.info != nullptr) out.assign(dib.infoBytes(), dib.infoBytes() + 40);
  if (dib.bits != nullptr) out.insert(out.end(), dib.bitsBytes(), dib.bitsBytes() + dib.bitsSize());
  return out;
}

Outcome RunOnce(const char* path, const uint8_t* memory, int32_t length) {
  Outcome o;
  o.supportedAddress = Plugin().isSupported(nullptr, memory);
  // A handle's position is its own, so each thread opens its own.
  HANDLE handle =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    o.supportedHandle = Plugin().isSupported(nullptr, handle);
    CloseHandle(handle);
  }
  const SourceCase sources[] = {
      {"file", path, 0, kFileMode, Ok},
      {"memory", reinterpret_cast<const char*>(memory), length, kMemoryMode, Ok}};
  for (int i = 0; i < 2; ++i) {
    const SourceCase& s = sources[i];
    PictureInfoRecord info;
    memset(&info, 0, sizeof info);
    o.info[i] = Plugin().getPictureInfo(s.source, s.offsetOrLength, s.mode, &info);
    o.record[i] = RecordBytes(info);
    if (o.info[i] == Ok && info.textHandle != nullptr) GlobalFree(info.textHandle);
    Dib dib;
    dib.result =
        Plugin().getPicture(s.source, s.offsetOrLength, s.mode, &dib.info, &dib.bits, nullptr, 0);
    o.picture[i] = dib.result;
    o.dib[i] = DibBytes(dib);
  }
  return o;
}

TEST(Concurrency, ThreadsGetWhatOneThreadGets) {
  // An odd width, so padded rows are part of what is compared.
  const Bytes image = testwpp::EncodeWpp(testwpp::RandomImage(37, 23, 5));
  testwpp::TempFile file(image);
  const int32_t length = static_cast<int32_t>(image.size());
  const Outcome alone = RunOnce(file.path(), image.data(), length);
  ASSERT_EQ(alone.picture[0], Ok);
  ASSERT_EQ(alone.picture[1], Ok);
  ASSERT_EQ(alone.supportedHandle, 1);
  ASSERT_TRUE(testwpp::SameBytes(alone.dib[0], alone.dib[1]));

  // gtest assertions belong to the main thread: threads only record.
  std::vector<std::vector<Outcome>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r)
        seen[t].push_back(RunOnce(file.path(), image.data(), length));
    });
  for (std::thread& t : threads) t.join();

  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(kRounds));
    for (int r = 0; r < kRounds; ++r) {
      SCOPED_TRACE("thread " + std::to_string(t) + " round " + std::to_string(r));
      const Outcome& o = seen[t][r];
      EXPECT_EQ(o.supportedAddress, alone.supportedAddress);
      EXPECT_EQ(o.supportedHandle, alone.supportedHandle);
      for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(o.info[i], alone.info[i]);
        EXPECT_TRUE(testwpp::SameBytes(o.record[i], alone.record[i]));
        EXPECT_EQ(o.picture[i], alone.picture[i]);
        EXPECT_TRUE(testwpp::SameBytes(o.dib[i], alone.dib[i]));
      }
    }
  }
}

}  // namespace
