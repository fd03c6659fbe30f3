// The host contract: how a viewer calls the plug-in, what its results mean,
// how it picks the image's source and how it hears of progress.
//
// One contract at two widths. The 32-bit plug-in (wpp.spi) uses the 32-bit
// Windows API convention: arguments pushed right to left, removed by the
// callee, a 32-bit result. The 64-bit plug-in (wpp.sph) uses the x86-64
// convention, where the keyword has no effect. Every pointer and handle, the
// source's offset or length and the callback's user data are pointer-sized
// (intptr_t); every other argument and every result is 32-bit at both widths.
// The exports carry plain names at the fixed ordinals of exports.def.
// All that differs between the widths is said in this header.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(__i386__)
#define WPP_CALL __attribute__((stdcall))
#else
#define WPP_CALL
#endif

#if defined(WPP_BUILDING_PLUGIN) && !defined(_WIN32)
#define WPP_EXPORT extern "C" __attribute__((visibility("default")))
#else
// On Windows the .def file names the exports.
#define WPP_EXPORT extern "C"
#endif

// Signed 32-bit result of the picture entry points and of the format hooks.
enum PluginResult : int32_t {
  NotImplemented = -1,    // the entry point is not provided
  Ok = 0,                 // success
  Aborted = 1,            // the progress callback asked us to stop
  UnsupportedFormat = 2,  // not a WPP image, or no image at the given place
  OutOfMemory = 4,        // a memory block cannot be allocated
  ReadError = 6,          // the file cannot be opened or read
};
static_assert(sizeof(PluginResult) == 4, "a 32-bit result");

// The source mode: only its low three bits count. All clear selects a file
// (path and offset), any set selects memory (address and length). Hosts pass
// kFileMode or kMemoryMode; higher bits are theirs and ignored.
constexpr uint32_t kSourceModeMask = 0x7;
constexpr uint32_t kFileMode = 0;
constexpr uint32_t kMemoryMode = 1;
constexpr bool IsMemorySource(uint32_t mode) { return (mode & kSourceModeMask) != 0; }

// The head of a file that hosts read for the support test: they hand over a
// buffer of this many bytes, and a handle read brings in no more.
constexpr uint32_t kSupportHeadBytes = 2000;

// The host's progress callback. A non-zero result asks the plug-in to stop.
// userData goes back exactly as the host gave it, all of its bits.
typedef int32_t(WPP_CALL* ProgressProc)(int32_t numerator, int32_t denominator, intptr_t userData);

// A host handle slot: receives the handle of a fixed block, which is its address.
typedef void* BlockHandle;

// The host's picture information record, packed, every field little-endian.
// The text handle follows the 22 bytes of fields directly in the 32-bit
// record (26 bytes, the handle unaligned); the 64-bit record puts 2 zero
// bytes before it, so the handle sits at 24 (32 bytes in all).
constexpr size_t kTextHandleOffset = sizeof(void*) == 8 ? 24 : 22;
struct __attribute__((packed)) PictureInfoRecord {
  int32_t offsetX;
  int32_t offsetY;
  uint32_t width;
  uint32_t height;
  int16_t densityX;
  int16_t densityY;
  int16_t bitsPerPixel;
  uint8_t padding[kTextHandleOffset - 22];  // none at 32 bits
  void* textHandle;
};
static_assert(sizeof(PictureInfoRecord) == kTextHandleOffset + sizeof(void*), "record size");
static_assert(sizeof(void*) == 4 || sizeof(PictureInfoRecord) == 32, "the 64-bit record");
static_assert(sizeof(void*) == 8 || sizeof(PictureInfoRecord) == 26, "the 32-bit record");
static_assert(offsetof(PictureInfoRecord, offsetX) == 0, "record layout");
static_assert(offsetof(PictureInfoRecord, offsetY) == 4, "record layout");
static_assert(offsetof(PictureInfoRecord, width) == 8, "record layout");
static_assert(offsetof(PictureInfoRecord, height) == 12, "record layout");
static_assert(offsetof(PictureInfoRecord, densityX) == 16, "record layout");
static_assert(offsetof(PictureInfoRecord, densityY) == 18, "record layout");
static_assert(offsetof(PictureInfoRecord, bitsPerPixel) == 20, "record layout");
static_assert(offsetof(PictureInfoRecord, textHandle) == kTextHandleOffset, "record layout");

// Each entry point has a wide-character twin (ordinals 6 to 10, the W names
// declared beside it): the same call, results and rules, with paths in UTF-16,
// so that a file the ANSI code page cannot name opens, and information strings
// copied as UTF-16, their lengths counted in UTF-16 units. In memory mode the
// source is the picture's address in both. The information text block is the
// same 8-bit text for both.

// Copies information string `index` (0 "00IN", 1 description, 2 pattern,
// 3 format name) into buffer, shortened to bufferLength - 1 characters.
// Returns the length now in buffer; 0 for a bad index, a null buffer or a
// length below 1, with the buffer untouched.
WPP_EXPORT int32_t WPP_CALL GetPluginInfo(int32_t index, char* buffer, int32_t bufferLength);
WPP_EXPORT int32_t WPP_CALL GetPluginInfoW(int32_t index, char16_t* buffer, int32_t bufferLength);

// 1 if the data is a WPP image, otherwise 0. A source whose bits above the
// low 16 are all zero is a file handle, read from its current position and
// left open; anything else is the address of the file's first bytes, of
// which only bytes 16 to 23 are read. The name is never read.
WPP_EXPORT int32_t WPP_CALL IsSupported(const char* name, const void* source);
WPP_EXPORT int32_t WPP_CALL IsSupportedW(const char16_t* name, const void* source);

// Fills the host's record for the image at source (path and offset, or address
// and length). On Ok every byte of the record is written and the host owns
// the new text block named in it; on any other result the record is untouched
// and nothing is held.
WPP_EXPORT PluginResult WPP_CALL GetPictureInfo(const char* source, intptr_t offsetOrLength,
                                                uint32_t mode, PictureInfoRecord* info);
WPP_EXPORT PluginResult WPP_CALL GetPictureInfoW(const char16_t* source, intptr_t offsetOrLength,
                                                 uint32_t mode, PictureInfoRecord* info);

// Converts the image to a DIB: a BITMAPINFOHEADER block in *infoSlot and the
// bits block in *bitsSlot. What each result leaves in the two slots:
//   Ok                 both blocks, filled; the host owns them (LocalFree)
//   Aborted            from the first progress call: slots untouched, nothing
//                      held; from the final one: both filled blocks, as on Ok
//   UnsupportedFormat  slots untouched (not a picture, or not all of it there)
//   ReadError          slots untouched (the file cannot be opened or read)
//   OutOfMemory        nothing held: the slots untouched when the source
//                      block could not be had, both null when a DIB block
//                      could not
//   (a null slot)      UnsupportedFormat, nothing read
WPP_EXPORT PluginResult WPP_CALL GetPicture(const char* source, intptr_t offsetOrLength,
                                            uint32_t mode, BlockHandle* infoSlot,
                                            BlockHandle* bitsSlot, ProgressProc progress,
                                            intptr_t userData);
WPP_EXPORT PluginResult WPP_CALL GetPictureW(const char16_t* source, intptr_t offsetOrLength,
                                             uint32_t mode, BlockHandle* infoSlot,
                                             BlockHandle* bitsSlot, ProgressProc progress,
                                             intptr_t userData);

// No preview is offered: always NotImplemented, with no argument read. The
// preview takes the picture's arguments, so it is declared by their type.
WPP_EXPORT decltype(GetPicture) GetPreview;
WPP_EXPORT decltype(GetPictureW) GetPreviewW;
