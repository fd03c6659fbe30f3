// What the desktop fronts' benchmarks share: a monotonic clock, medians and
// scratch files. Their figures mean something only as ratios within one run.
#pragma once

#include <stdlib.h>
#include <time.h>

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

}  // namespace bench
