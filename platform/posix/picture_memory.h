// Blocks for whole pictures, for the fronts that choose their pictures'
// memory themselves (the gdk-pixbuf loader, the Qt plug-in, the tools on
// Linux). A fresh picture is written once, front to back, so what it costs is
// the first touch of each page: a large block comes as one mapping, 2 MiB-
// aligned and advised as transparent huge pages, so a 48 MiB picture takes 24
// faults instead of 12,288. Every block is zero-filled (a picture cut short
// shows black), by the kernel's fresh pages or by calloc, never by a second
// pass. No state is kept outside the blocks, so any thread may allocate and
// any thread may free.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace platform {

// One huge page of x86-64 and of ARM64 with 4 KiB pages: the alignment and
// the rounding of a large block's length.
constexpr uint64_t kHugePageBytes = uint64_t{2} << 20;
// From here on a block comes on huge pages; below it, from calloc. A block
// smaller than one huge page would be more rounding than picture.
constexpr uint64_t kHugePictureBytes = kHugePageBytes;

// A zero-filled block of bytes bytes, 16-byte aligned, and 2 MiB-aligned from
// kHugePictureBytes on; null for 0 bytes or when there is no room. Its memory
// is at most one 2 MiB rounding and one page more than the bytes asked.
void* AllocatePicture(uint64_t bytes);

// Frees a block from AllocatePicture, from any thread; null does nothing.
// Plain with the signature of a destroy callback (a QImage's cleanup).
void FreePicture(void* block);

// The system calls a large block is made with, for a test to watch or
// refuse; AllocatePicture and FreePicture above use the system's own.
struct PictureMemoryCalls {
  void* (*map)(size_t length);                    // fresh read-write pages, or null
  int (*unmap)(void* start, size_t length);       // 0 on success
  int (*adviseHuge)(void* start, size_t length);  // 0 when the kernel takes the advice
};
void* AllocatePicture(uint64_t bytes, const PictureMemoryCalls& calls);
void FreePicture(void* block, const PictureMemoryCalls& calls);

}  // namespace platform
