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

// Everything one round of calls produces, compared whole.
struct Outcome {
  int32_t supportedAddress = -1, supportedHandle = -1;
  PluginResult infoFile = NotImplemented, infoMemory = NotImplemented;
  Bytes recordFile, recordMemory;  // the record less its text handle
  PluginResult pictureFile = NotImplemented, pictureMemory = NotImplemented;
  Bytes dibFile, dibMemory;  // header block then bits block
  bool operator==(const Outcome&) const = default;
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
  PictureInfoRecord info;
  memset(&info, 0, sizeof info);
  o.infoFile = Plugin().getPictureInfo(path, 0, kFileMode, &info);
  o.recordFile = RecordBytes(info);
  if (o.infoFile == Ok && info.textHandle != nullptr) GlobalFree(info.textHandle);
  memset(&info, 0, sizeof info);
  o.infoMemory =
      Plugin().getPictureInfo(reinterpret_cast<const char*>(memory), length, kMemoryMode, &info);
  o.recordMemory = RecordBytes(info);
  if (o.infoMemory == Ok && info.textHandle != nullptr) GlobalFree(info.textHandle);
  {
    Dib dib;
    dib.result = Plugin().getPicture(path, 0, kFileMode, &dib.info, &dib.bits, nullptr, 0);
    o.pictureFile = dib.result;
    o.dibFile = DibBytes(dib);
  }
  {
    Dib dib;
    dib.result = Plugin().getPicture(reinterpret_cast<const char*>(memory), length, kMemoryMode,
                                     &dib.info, &dib.bits, nullptr, 0);
    o.pictureMemory = dib.result;
    o.dibMemory = DibBytes(dib);
  }
  return o;
}

TEST(Concurrency, ThreadsGetWhatOneThreadGets) {
  // An odd width, so padded rows are part of what is compared.
  const Bytes image = testwpp::EncodeWpp(testwpp::RandomImage(37, 23, 5));
  testwpp::TempFile file(image);
  const int32_t length = static_cast<int32_t>(image.size());
  const Outcome alone = RunOnce(file.path(), image.data(), length);
  ASSERT_EQ(alone.pictureFile, Ok);
  ASSERT_EQ(alone.pictureMemory, Ok);
  ASSERT_EQ(alone.supportedHandle, 1);
  ASSERT_TRUE(testwpp::SameBytes(alone.dibFile, alone.dibMemory));

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
      EXPECT_EQ(o.infoFile, alone.infoFile);
      EXPECT_EQ(o.infoMemory, alone.infoMemory);
      EXPECT_TRUE(testwpp::SameBytes(o.recordFile, alone.recordFile));
      EXPECT_TRUE(testwpp::SameBytes(o.recordMemory, alone.recordMemory));
      EXPECT_EQ(o.pictureFile, alone.pictureFile);
      EXPECT_EQ(o.pictureMemory, alone.pictureMemory);
      EXPECT_TRUE(testwpp::SameBytes(o.dibFile, alone.dibFile));
      EXPECT_TRUE(testwpp::SameBytes(o.dibMemory, alone.dibMemory));
    }
  }
}

}  // namespace
