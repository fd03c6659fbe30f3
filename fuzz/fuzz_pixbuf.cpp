// The gdk-pixbuf loader's incremental parser, through the module's own
// vtable as gdk-pixbuf calls it: the envelope's control byte chooses whether
// the size callback stops the load (asking 0 x 0), whether error pointers are
// null, and whether the bytes go through load() from a FILE instead; its
// number's four bytes are the sizes (1 to 256) of the pieces the image is fed
// in, in turn. Every failure must come with a GdkPixbufError, every callback
// in order and inside the picture, and a finished picture must hold the
// reference's pixels.

#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#include <stdio.h>
#include <string.h>

#include "fuzz/fuzz_envelope.h"
#include "tools/wpp_reference.h"
#include "wpp/wpp.h"

extern "C" void fill_vtable(GdkPixbufModule* module);

namespace {

// A header claiming more is stopped at its size, so that no run allocates
// gigabytes for a picture its few bytes cannot fill.
constexpr uint64_t kLargestPixels = 1u << 22;

struct Calls {
  int sizes = 0, prepared = 0;
  bool stopAtSize = false;
  GdkPixbuf* pixbuf = nullptr;
  int nextRow = 0;  // updates come in order, each band after the last
};

void Size(gint* width, gint* height, gpointer data) {
  auto* calls = static_cast<Calls*>(data);
  if (++calls->sizes != 1 || *width <= 0 || *height <= 0) fuzzwpp::Fail("a bad size call");
  if (calls->stopAtSize) *width = *height = 0;
}

void Prepared(GdkPixbuf* pixbuf, GdkPixbufAnimation*, gpointer data) {
  auto* calls = static_cast<Calls*>(data);
  if (calls->sizes != 1 || ++calls->prepared != 1 || calls->stopAtSize)
    fuzzwpp::Fail("prepared out of order");
  calls->pixbuf = static_cast<GdkPixbuf*>(g_object_ref(pixbuf));
}

void Updated(GdkPixbuf* pixbuf, int x, int y, int width, int height, gpointer data) {
  auto* calls = static_cast<Calls*>(data);
  if (pixbuf != calls->pixbuf || x != 0 || width != gdk_pixbuf_get_width(pixbuf) ||
      y != calls->nextRow || height <= 0 || y + height > gdk_pixbuf_get_height(pixbuf))
    fuzzwpp::Fail("an update outside the picture or out of order");
  calls->nextRow = y + height;
}

// A failure's error, where one was asked for: GdkPixbufError's, with a reason.
void CheckError(bool ok, GError* error, bool asked) {
  if (ok && error != nullptr) fuzzwpp::Fail("an error with success");
  if (!ok && asked &&
      (error == nullptr || error->domain != GDK_PIXBUF_ERROR || error->message[0] == '\0'))
    fuzzwpp::Fail("a failure without a GdkPixbufError");
  if (error != nullptr) g_error_free(error);
}

// A picture the module finished must be the whole of a valid image.
void CheckPicture(GdkPixbuf* pixbuf, const uint8_t* image, size_t size) {
  if (size < wpp::kHeaderSize || !CheckHeader(image) || ImageByteCount(image) > size)
    fuzzwpp::Fail("a picture from bytes that hold none");
  const WppHeader header = ParseWppHeader(image);
  if (gdk_pixbuf_get_width(pixbuf) != header.width ||
      gdk_pixbuf_get_height(pixbuf) != header.height || gdk_pixbuf_get_has_alpha(pixbuf) ||
      gdk_pixbuf_get_n_channels(pixbuf) != 3)
    fuzzwpp::Fail("a picture of the wrong shape");
  const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  for (uint32_t y = 0; y < header.height; ++y)
    for (uint32_t x = 0; x < header.width; ++x) {
      uint8_t want[3];
      reference::Rgb(wpp::LoadLe16(image + wpp::kPixelsOffset + 2 * (y * header.width + x)), want);
      if (memcmp(pixels + static_cast<size_t>(y) * stride + 3 * x, want, 3) != 0)
        fuzzwpp::Fail("a pixel not the reference's");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzwpp::Envelope e;
  if (!fuzzwpp::ReadEnvelope(data, size, &e)) return 0;
  GdkPixbufModule module = {};
  fill_vtable(&module);
  const bool askErrors = (e.control & 2) == 0;
  const bool huge =
      e.bodySize >= wpp::kHeaderSize &&
      uint64_t{ParseWppHeader(e.body).width} * ParseWppHeader(e.body).height > kLargestPixels;
  // The image in a block of its own size, so a read past it is caught.
  auto* image = static_cast<uint8_t*>(malloc(e.bodySize + 1));
  memcpy(image, e.body, e.bodySize);

  if ((e.control & 4) && !huge) {
    FILE* file = fmemopen(image, e.bodySize, "rb");
    if (e.bodySize == 0 || file == nullptr) {
      if (file != nullptr) fclose(file);
      free(image);
      return 0;
    }
    GError* error = nullptr;
    GdkPixbuf* pixbuf = module.load(file, askErrors ? &error : nullptr);
    fclose(file);
    CheckError(pixbuf != nullptr, error, askErrors);
    if (pixbuf != nullptr) CheckPicture(pixbuf, image, e.bodySize);
    if (pixbuf != nullptr) g_object_unref(pixbuf);
    free(image);
    return 0;
  }

  Calls calls;
  calls.stopAtSize = (e.control & 1) != 0 || huge;
  GError* error = nullptr;
  gpointer context = module.begin_load(Size, Prepared, Updated, &calls, &error);
  if (context == nullptr) fuzzwpp::Fail("no context");
  bool ok = true;
  for (size_t at = 0, piece = 0; ok && at < e.bodySize; ++piece) {
    const size_t want = 1 + ((e.number >> (8 * (piece % 4))) & 0xFF);
    const size_t count = want < e.bodySize - at ? want : e.bodySize - at;
    ok = module.load_increment(context, image + at, static_cast<guint>(count),
                               askErrors ? &error : nullptr);
    at += count;
  }
  CheckError(ok, error, askErrors);
  error = nullptr;
  // As gdk-pixbuf's loader, which stops a failed load with no error pointer.
  const bool finished = module.stop_load(context, ok && askErrors ? &error : nullptr) && ok;
  CheckError(finished, error, ok && askErrors);
  if (finished && calls.stopAtSize) fuzzwpp::Fail("a load stopped at its size finished");
  if (finished) {
    if (calls.pixbuf == nullptr || calls.nextRow != gdk_pixbuf_get_height(calls.pixbuf))
      fuzzwpp::Fail("a finished picture not wholly reported");
    CheckPicture(calls.pixbuf, image, e.bodySize);
  }
  if (calls.pixbuf != nullptr) g_object_unref(calls.pixbuf);
  free(image);
  return 0;
}
