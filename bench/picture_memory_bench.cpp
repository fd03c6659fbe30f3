// picture_memory_bench: what the threshold of the picture blocks rests on.
// Each size's block allocated, written once and freed, through calloc and
// through AllocatePicture: cold, the first block of a fresh process (a
// thumbnailer, a viewer's first picture); warm, the same size again and again
// in one process, where glibc reuses its heap below its mmap ceiling. Medians;
// figures that mean something only beside each other, in one run.
//   picture_memory_bench [repetitions]

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "bench/desktop_bench.h"
#include "platform/posix/picture_memory.h"

namespace {

constexpr uint64_t kSizesKib[] = {512, 2048, 4096, 16384, 49152};

// One block of bytes, from calloc or from the picture blocks, written whole.
double WriteOnce(bool picture, uint64_t bytes) {
  const double start = bench::Seconds();
  void* block = picture ? platform::AllocatePicture(bytes) : calloc(1, bytes);
  if (block == nullptr) return -1;
  memset(block, 0x5A, bytes);
  asm volatile("" : : "r"(block) : "memory");  // the writes happen
  const double took = bench::Seconds() - start;
  picture ? platform::FreePicture(block) : free(block);
  return took;
}

double Cold(const char* self, bool picture, uint64_t bytes, int repetitions) {
  std::vector<double> times;
  const std::string command =
      std::string(self) + " --once " + (picture ? "picture " : "calloc ") + std::to_string(bytes);
  for (int r = 0; r < repetitions; ++r) {
    FILE* child = popen(command.c_str(), "r");
    double took = -1;
    if (child == nullptr || fscanf(child, "%lf", &took) != 1) took = -1;
    if (child != nullptr) pclose(child);
    times.push_back(took);
  }
  return bench::Median(times);
}

double Warm(bool picture, uint64_t bytes, int repetitions) {
  std::vector<double> times;
  WriteOnce(picture, bytes);  // the heap grown, or not, once
  for (int r = 0; r < repetitions; ++r) times.push_back(WriteOnce(picture, bytes));
  return bench::Median(times);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "--once") == 0) {
    printf("%.9f\n", WriteOnce(strcmp(argv[2], "picture") == 0, strtoull(argv[3], nullptr, 10)));
    return 0;
  }
  const int repetitions = argc > 1 ? atoi(argv[1]) : 9;
  printf("picture_memory_bench: medians of %d, huge pages: %s, threshold %llu KiB\n", repetitions,
         bench::HugePageMode().c_str(),
         static_cast<unsigned long long>(platform::kHugePictureBytes >> 10));
  printf("| block | cold, calloc | cold, picture block | warm, calloc | warm, picture block |\n");
  for (const uint64_t kib : kSizesKib) {
    const uint64_t bytes = kib << 10;
    printf("| %llu KiB | %.3f ms | %.3f ms | %.3f ms | %.3f ms |\n",
           static_cast<unsigned long long>(kib), Cold(argv[0], false, bytes, repetitions) * 1e3,
           Cold(argv[0], true, bytes, repetitions) * 1e3, Warm(false, bytes, repetitions) * 1e3,
           Warm(true, bytes, repetitions) * 1e3);
  }
  return 0;
}
