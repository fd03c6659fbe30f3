// What the desktop fronts' benchmarks share: a monotonic clock, medians,
// scratch files and the floor a load is measured against. Their figures mean
// something only as ratios within one run.
#pragma once

#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

inline double Seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A file in TMPDIR (or /tmp), named for the benchmark that makes it.
inline std::string Scratch(const char* bench, const char* name) {
  const char* folder = getenv("TMPDIR");
  return std::string(folder != nullptr ? folder : "/tmp") + "/" + bench + "_" + name;
}

inline void WriteFile(const std::string& path, const void* bytes, size_t size,
                      const std::string& before = "") {
  std::ofstream out(path, std::ios::binary);
  out << before;
  out.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
}

// The kernel's transparent huge page mode (always, madvise or never), or
// "absent" where the kernel has none.
inline std::string HugePageMode() {
  std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string all;
  std::getline(in, all);
  const size_t open = all.find('['), close = all.find(']');
  return open != std::string::npos && close > open ? all.substr(open + 1, close - open - 1)
                                                   : "absent";
}

// This process's anonymous memory on huge pages now, in MiB.
inline double HugeMib() {
  std::ifstream in("/proc/self/smaps_rollup");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("AnonHugePages:", 0) == 0) return atof(line.c_str() + 14) / 1024;
  return 0;
}

constexpr size_t kFloorChunk = 64 * 1024;  // what the loaders read at a time
constexpr size_t kHugePage = size_t{2} << 20;

// The floor under a load: the file read in 64 KiB chunks, and outputBytes
// written once, as the chunks come, into fresh memory: a mapping advised as
// huge pages (2 MiB-aligned), or one kept on 4 KiB pages whatever the
// kernel's mode. Made apart from the fronts' allocator, with the system's
// calls alone. *hugeMib: how much of the process was on huge pages at the
// end. Its time leaves out the unmapping, as a load's leaves out the free.
inline double FloorSeconds(const std::string& path, size_t outputBytes, bool huge,
                           double* hugeMib) {
  const double start = Seconds();
  const size_t length = outputBytes + (huge ? kHugePage : 0);
  void* mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return -1;
  auto* out = static_cast<uint8_t*>(mapping);
  if (huge) {
    out = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(out) + kHugePage - 1) /
                                     kHugePage * kHugePage);
    madvise(out, outputBytes, MADV_HUGEPAGE);
  } else {
    madvise(out, outputBytes, MADV_NOHUGEPAGE);
  }
  const int file = open(path.c_str(), O_RDONLY);
  const off_t fileBytes = file < 0 ? 0 : lseek(file, 0, SEEK_END);
  if (fileBytes > 0) lseek(file, 0, SEEK_SET);
  static uint8_t chunk[kFloorChunk];
  uint64_t read = 0, written = 0;
  ssize_t got;
  while (fileBytes > 0 && (got = ::read(file, chunk, sizeof chunk)) > 0) {
    read += static_cast<uint64_t>(got);
    const uint64_t due = read * outputBytes / static_cast<uint64_t>(fileBytes);
    memset(out + written, chunk[0] | 1, due - written);
    written = due;
  }
  if (file >= 0) close(file);
  const double took = Seconds() - start;
  *hugeMib = HugeMib();
  munmap(mapping, length);
  return written == outputBytes ? took : -1;
}

// A load's median beside the floor's on either kind of page, as ratios, and
// what this kernel's huge pages make of it.
inline void PrintFloor(size_t outputBytes, double load, double floor4k, double floor4kHugeMib,
                       double floorHuge, double floorHugeMib) {
  const std::string mode = HugePageMode();
  printf("| floor, 4 KiB pages (%zu MiB written) | %7.2f ms | %.0f MiB on huge pages |\n",
         outputBytes >> 20, floor4k * 1e3, floor4kHugeMib);
  printf("| floor, huge pages | %7.2f ms | %.0f MiB on huge pages (kernel: %s) |\n",
         floorHuge * 1e3, floorHugeMib, mode.c_str());
  printf("| load / floor on 4 KiB pages | %.2f |\n", load / floor4k);
  printf("| load / floor on huge pages | %.2f (<= 2.0) |\n", load / floorHuge);
  if (floorHugeMib < 1)
    printf(
        "| note | the kernel gave the huge floor no huge pages (mode %s): both floors are on "
        "4 KiB pages, and the ratio to the huge floor is the ratio to the 4 KiB one |\n",
        mode.c_str());
}

}  // namespace bench
