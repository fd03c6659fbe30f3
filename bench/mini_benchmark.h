// A small self-timed stand-in for the part of Google Benchmark that
// wpp_bench uses, for the Windows build: there is no MinGW build of the
// library to link. It runs each case for its fixed iteration count, repeats
// it, and writes the same JSON layout (medians as "aggregate" runs), so
// scripts/bench reads either program's output the same way.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace benchmark {

class State {
 public:
  explicit State(int64_t iterations) : iterations_(iterations) {}

  // A class type, so the loop variable that cases never use draws no warning.
  struct Value {
    ~Value() {}
  };
  struct Iterator {
    int64_t left;
    bool operator!=(const Iterator&) const { return left > 0; }
    void operator++() { --left; }
    Value operator*() const { return Value(); }
  };
  Iterator begin() {
    start_ = std::chrono::steady_clock::now();
    return Iterator{skipped_ ? 0 : iterations_};
  }
  // The clock stops when the case returns: cases check their output before
  // the loop and do nothing after it.
  Iterator end() { return Iterator{0}; }
  void SetBytesProcessed(int64_t bytes) { bytes_ = bytes; }
  void SkipWithError(const char* message) {
    skipped_ = true;
    error_ = message;
  }
  int64_t iterations() const { return iterations_; }

  // Used by the runner.
  void Stop() { stop_ = std::chrono::steady_clock::now(); }
  double Seconds() const { return std::chrono::duration<double>(stop_ - start_).count(); }
  int64_t bytes() const { return bytes_; }
  bool skipped() const { return skipped_; }
  const std::string& error() const { return error_; }

 private:
  int64_t iterations_;
  int64_t bytes_ = 0;
  bool skipped_ = false;
  std::string error_;
  std::chrono::steady_clock::time_point start_, stop_;
};

class Benchmark {
 public:
  Benchmark(std::string name, std::function<void(State&)> run)
      : name_(std::move(name)), run_(std::move(run)) {}
  Benchmark* Iterations(int64_t n) {
    iterations_ = n;
    return this;
  }
  Benchmark* UseRealTime() { return this; }
  Benchmark* Unit(int) { return this; }
  const std::string& name() const { return name_; }
  int64_t iterations() const { return iterations_; }
  void Run(State& state) const { run_(state); }

 private:
  std::string name_;
  std::function<void(State&)> run_;
  int64_t iterations_ = 1;
};

inline std::vector<std::unique_ptr<Benchmark>>& Registry() {
  static std::vector<std::unique_ptr<Benchmark>> benchmarks;
  return benchmarks;
}

template <class Lambda>
Benchmark* RegisterBenchmark(const char* name, Lambda&& fn) {
  Registry().push_back(std::make_unique<Benchmark>(name, std::function<void(State&)>(fn)));
  return Registry().back().get();
}

template <class T>
inline void DoNotOptimize(T const& value) {
  asm volatile("" : : "r,m"(value) : "memory");
}
inline void ClobberMemory() { asm volatile("" : : : "memory"); }

struct Options {
  int repetitions = 1;
  std::string filter = ".";
  std::string outPath;
};
inline Options& Flags() {
  static Options options;
  return options;
}

inline void Initialize(int* argc, char** argv) {
  for (int i = 1; i < *argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* flag) -> const char* {
      const size_t length = strlen(flag);
      return arg.compare(0, length, flag) == 0 ? argv[i] + length : nullptr;
    };
    if (const char* v = value("--benchmark_repetitions=")) Flags().repetitions = atoi(v);
    if (const char* v = value("--benchmark_filter=")) Flags().filter = v;
    if (const char* v = value("--benchmark_out=")) Flags().outPath = v;
  }
  if (Flags().repetitions < 1) Flags().repetitions = 1;
}

inline bool ReportUnrecognizedArguments(int, char**) { return false; }

inline size_t RunSpecifiedBenchmarks() {
  const std::regex filter(Flags().filter);
  std::string json = "{\n  \"context\": {\"library\": \"mini_benchmark\"},\n  \"benchmarks\": [\n";
  bool first = true;
  size_t ran = 0;
  for (const auto& benchmark : Registry()) {
    if (!std::regex_search(benchmark->name(), filter)) continue;
    std::vector<double> seconds, rates;
    std::string error;
    for (int r = 0; r < Flags().repetitions; ++r) {
      State state(benchmark->iterations());
      benchmark->Run(state);
      state.Stop();
      if (state.skipped()) {
        error = state.error();
        break;
      }
      const double perIteration = state.Seconds() / static_cast<double>(state.iterations());
      seconds.push_back(perIteration);
      rates.push_back(static_cast<double>(state.bytes()) / state.Seconds());
    }
    ++ran;
    if (!error.empty()) {
      printf("%-44s ERROR: %s\n", benchmark->name().c_str(), error.c_str());
      continue;
    }
    auto median = [](std::vector<double> values) {
      std::sort(values.begin(), values.end());
      const size_t n = values.size();
      return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    };
    const double time = median(seconds), rate = median(rates);
    printf("%-44s %12.0f ns  %9.3f GB/s\n", benchmark->name().c_str(), time * 1e9, rate / 1e9);
    fflush(stdout);
    char entry[512];
    snprintf(entry, sizeof entry,
             "%s    {\"name\": \"%s_median\", \"run_name\": \"%s\", \"run_type\": \"aggregate\", "
             "\"aggregate_name\": \"median\", \"real_time\": %.3f, \"time_unit\": \"ns\", "
             "\"bytes_per_second\": %.1f}",
             first ? "" : ",\n", benchmark->name().c_str(), benchmark->name().c_str(), time * 1e9,
             rate);
    json += entry;
    first = false;
  }
  json += "\n  ]\n}\n";
  if (!Flags().outPath.empty()) {
    FILE* out = fopen(Flags().outPath.c_str(), "wb");
    if (out != nullptr) {
      fwrite(json.data(), 1, json.size(), out);
      fclose(out);
    }
  }
  return ran;
}

inline void Shutdown() {}

}  // namespace benchmark
