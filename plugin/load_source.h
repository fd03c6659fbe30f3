// Getting an image's bytes from the host's source, in either mode.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "plugin/plugin.h"
#include "wpp/wpp.h"

// The host's first argument: a path in the ANSI code page or in UTF-16, as
// the entry point it called takes them; in memory mode, the picture's address.
struct SourceName {
  const void* text;
  bool wide;
};
inline SourceName NarrowName(const char* text) { return {text, false}; }
inline SourceName WideName(const char16_t* text) { return {text, true}; }

// What a request needs of the image: its header alone, or all of it.
enum class SourceNeed { Header, WholeImage };

// The bytes of one image at hand. Reading a file, the header lands in
// `header`, and the whole image in our own block when it is needed.
struct SourceBytes {
  const uint8_t* image;  // the image's first byte
  size_t available;      // bytes at hand from image on, at least the header's 24
  void* block;           // our source block, null unless a file's whole image is in it
  uint8_t header[wpp::kHeaderSize];
};

// Reads from the file at path, at offset, the header and, when the whole
// image is needed and the header describes one, exactly its 20 + dataLength
// bytes into a new block; nothing after the image is read. A header that
// does not describe an image comes back alone, for the caller to refuse.
// On Ok the caller ends with ReleaseSource; on any other result nothing is
// held and the file is closed:
//   ReadError          the file cannot be opened, sized, positioned or read
//   UnsupportedFormat  the offset is negative or past the end, the rest is
//                      larger than a count of this width, or fewer bytes are
//                      at hand than the header (or the image it describes)
//   OutOfMemory        the source block cannot be allocated
PluginResult LoadSource(SourceName path, intptr_t offset, SourceNeed need, SourceBytes* bytes);

// Either LoadSource, or the host's own bytes in memory mode (null address,
// negative length or fewer than 24 bytes give UnsupportedFormat). On Ok the
// caller ends with ReleaseSource.
PluginResult AcquireSource(SourceName source, intptr_t offsetOrLength, uint32_t mode,
                           SourceNeed need, SourceBytes* bytes);

// Frees the source block, if we allocated one.
void ReleaseSource(SourceBytes* bytes);
