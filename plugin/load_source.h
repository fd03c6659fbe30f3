// Getting an image's bytes from the host's source, in either mode.
#pragma once

#include <stdint.h>

#include "plugin/plugin.h"

// The bytes of one image, and the block that holds them when we read a file.
struct SourceBytes {
  const uint8_t* image;  // the image's first byte
  uint32_t available;    // bytes at hand from image on, at least the header's 24
  void* block;           // our source block in file mode, null in memory mode
};

// Reads the file at path from offset to its end into a new source block.
// On Ok the caller frees source->block with LocalFree; on any other result
// nothing is held and the file is closed:
//   ReadError          the file cannot be opened, sized, positioned or read
//   UnsupportedFormat  the offset is negative or past the end, the rest is
//                      2 GiB or more, or fewer than 24 bytes are at hand
//   OutOfMemory        the source block cannot be allocated
PluginResult LoadSource(const char* path, int32_t offset, SourceBytes* source);

// Either LoadSource, or the host's own bytes in memory mode (null address,
// negative length or fewer than 24 bytes give UnsupportedFormat). On Ok the
// caller ends with ReleaseSource.
PluginResult AcquireSource(const char* source, int32_t offsetOrLength, uint32_t mode,
                           SourceBytes* bytes);

// Frees the source block, if we allocated one.
void ReleaseSource(SourceBytes* bytes);
