// The gdk-pixbuf loader module: WPP for every program that reads pictures
// through gdk-pixbuf. A thin front over wpp/: it feeds the bytes it is given
// to the back end's stream reader, which expands the pixels straight into the
// pixbuf's rows as they arrive, so no copy of the file is held. Every failure
// sets a GError of GDK_PIXBUF_ERROR (or none where the caller passes no
// pointer), and the module keeps no state outside each load's context, so it
// declares itself thread-safe.

#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdio.h>
#include <sys/stat.h>

#include "platform/posix/picture_memory.h"
#include "wpp/picture_stream.h"

namespace {

// What fread takes from a FILE at a time: gdk-pixbuf's own loads read as much.
constexpr size_t kFileChunk = 64 * 1024;
// The rows between two updates: bands keep a viewer's redraws few without
// leaving it long with nothing new.
constexpr uint32_t kBandRows = 16;

struct LoadContext {
  GdkPixbufModuleSizeFunc sizeFunc;
  GdkPixbufModulePreparedFunc preparedFunc;
  GdkPixbufModuleUpdatedFunc updatedFunc;
  gpointer userData;
  // The bytes the source holds from the header on, where a FILE knows them;
  // -1 for a stream.
  int64_t bytesAhead;
  wpp::PictureStream stream;
  GdkPixbuf* pixbuf;  // ours from the header on; the caller takes its own ref
  wpp::RgbRows rows;  // the pixbuf's
  uint32_t rowsReported;
  bool failed;  // an error was given: every later call fails too
};

gboolean Fail(LoadContext* context, GError** error, GdkPixbufError code, const char* format, ...)
    G_GNUC_PRINTF(4, 5);
gboolean Fail(LoadContext* context, GError** error, GdkPixbufError code, const char* format, ...) {
  context->failed = true;
  if (error != nullptr) {
    va_list arguments;
    va_start(arguments, format);
    gchar* message = g_strdup_vprintf(format, arguments);
    va_end(arguments);
    g_set_error_literal(error, GDK_PIXBUF_ERROR, code, message);
    g_free(message);
  }
  return FALSE;
}

void FreePixels(guchar* pixels, gpointer) { platform::FreePicture(pixels); }

// The whole header is at hand: judge it, ask the caller's size, and make the
// pixbuf whose rows the pixels go into.
gboolean BeginPixels(LoadContext* context, GError** error) {
  const wpp::HeaderVerdict verdict = wpp::JudgeHeader(context->stream.header);
  if (verdict != wpp::HeaderVerdict::Picture)
    return Fail(context, error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "%s",
                wpp::HeaderVerdictText(verdict));
  const WppHeader& picture = context->stream.picture;
  const uint64_t pictureBytes = ImageByteCount(context->stream.header);
  if (context->bytesAhead >= 0 && static_cast<uint64_t>(context->bytesAhead) < pictureBytes)
    return Fail(context, error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                "truncated WPP image: the file holds %" G_GINT64_FORMAT
                " bytes of the %" G_GUINT64_FORMAT " its %u x %u header gives",
                context->bytesAhead, pictureBytes, picture.width, picture.height);
  if (context->sizeFunc != nullptr) {
    // A loader that cannot scale as it reads gives the whole size whatever
    // is asked; gdk-pixbuf scales afterwards. 0 asks for nothing more.
    gint width = picture.width, height = picture.height;
    context->sizeFunc(&width, &height, context->userData);
    if (width == 0 || height == 0)
      return Fail(context, error, GDK_PIXBUF_ERROR_FAILED,
                  "the load of a %u x %u WPP image was stopped once its size was known",
                  picture.width, picture.height);
  }
  // In 64 bits, then checked against what a pixbuf and this process can hold.
  const int stride =
      gdk_pixbuf_calculate_rowstride(GDK_COLORSPACE_RGB, FALSE, 8, picture.width, picture.height);
  const uint64_t pixelBytes = static_cast<uint64_t>(stride) * picture.height;
  guchar* pixels = nullptr;
  if (stride > 0 && pixelBytes <= G_MAXSIZE)
    // Zero-filled, so a picture cut short shows black, not old heap bytes;
    // a large one on huge pages, whose first touches are what its load costs.
    pixels = static_cast<guchar*>(platform::AllocatePicture(pixelBytes));
  if (pixels == nullptr)
    return Fail(context, error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                "not enough memory for a %u x %u WPP image (%" G_GUINT64_FORMAT " bytes)",
                picture.width, picture.height, pixelBytes);
  context->pixbuf = gdk_pixbuf_new_from_data(pixels, GDK_COLORSPACE_RGB, FALSE, 8, picture.width,
                                             picture.height, stride, FreePixels, nullptr);
  context->rows = {pixels, static_cast<uint64_t>(stride),
                   wpp::RowExpanderFor(wpp::PickExpandPath())};
  if (context->preparedFunc != nullptr)
    context->preparedFunc(context->pixbuf, nullptr, context->userData);
  return TRUE;
}

// Tells the caller of the whole rows it has not heard of, in bands, and of
// the last ones at once.
void ReportRows(LoadContext* context) {
  const uint32_t done = context->stream.row;
  const uint32_t pending = done - context->rowsReported;
  if (pending == 0 || (pending < kBandRows && !wpp::PixelsWhole(context->stream))) return;
  if (context->updatedFunc != nullptr)
    context->updatedFunc(context->pixbuf, 0, static_cast<int>(context->rowsReported),
                         context->stream.picture.width, static_cast<int>(pending),
                         context->userData);
  context->rowsReported = done;
}

gpointer BeginLoad(GdkPixbufModuleSizeFunc sizeFunc, GdkPixbufModulePreparedFunc preparedFunc,
                   GdkPixbufModuleUpdatedFunc updatedFunc, gpointer userData, GError**) {
  auto* context = g_new0(LoadContext, 1);
  context->sizeFunc = sizeFunc;
  context->preparedFunc = preparedFunc;
  context->updatedFunc = updatedFunc;
  context->userData = userData;
  context->bytesAhead = -1;
  wpp::StartPictureStream(&context->stream);
  return context;
}

gboolean LoadIncrement(gpointer data, const guchar* bytes, guint size, GError** error) {
  auto* context = static_cast<LoadContext*>(data);
  if (context->failed)
    return Fail(context, error, GDK_PIXBUF_ERROR_FAILED, "the WPP image's load already failed");
  if (!wpp::HeaderWhole(context->stream)) {
    const size_t taken = wpp::TakeHeader(&context->stream, bytes, size);
    bytes += taken;
    size -= static_cast<guint>(taken);
    if (!wpp::HeaderWhole(context->stream)) return TRUE;
    if (!BeginPixels(context, error)) return FALSE;
  }
  // What follows the last pixel is not the picture's: left unread.
  wpp::TakePixels(&context->stream, bytes, size, context->rows);
  ReportRows(context);
  return TRUE;
}

// Ends a load, freeing its context; on success, hands the pixbuf to result
// where one is asked for.
gboolean StopLoad(gpointer data, GError** error, GdkPixbuf** result) {
  auto* context = static_cast<LoadContext*>(data);
  gboolean ok = TRUE;
  if (context->failed) {
    // The reason was given with the failure; the caller hears it once more.
    ok = Fail(context, error, GDK_PIXBUF_ERROR_FAILED, "the WPP image's load failed");
  } else if (!wpp::HeaderWhole(context->stream)) {
    ok = Fail(context, error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
              "truncated WPP image: the data ends %u bytes into its %u-byte header",
              context->stream.headerBytes, wpp::kHeaderSize);
  } else if (!wpp::PixelsWhole(context->stream)) {
    ok = Fail(context, error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
              "truncated WPP image: the pixels end in row %u of %u", context->stream.row + 1,
              context->stream.picture.height);
  }
  if (ok && result != nullptr) *result = static_cast<GdkPixbuf*>(g_object_ref(context->pixbuf));
  if (context->pixbuf != nullptr) g_object_unref(context->pixbuf);
  g_free(context);
  return ok;
}

gboolean StopIncrementalLoad(gpointer data, GError** error) {
  return StopLoad(data, error, nullptr);
}

// A whole file: its size, where the system knows it, refuses a header that
// claims more than the file holds before the pixbuf is allocated.
GdkPixbuf* LoadFile(FILE* file, GError** error) {
  auto* context = static_cast<LoadContext*>(BeginLoad(nullptr, nullptr, nullptr, nullptr, error));
  struct stat status;
  const off_t at = ftello(file);
  if (fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode) && at >= 0 &&
      status.st_size >= at)
    context->bytesAhead = status.st_size - at;
  guchar* chunk = static_cast<guchar*>(g_try_malloc(kFileChunk));
  if (chunk == nullptr)
    Fail(context, error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory to read a file");
  while (!context->failed && !wpp::PixelsWhole(context->stream)) {
    const size_t got = fread(chunk, 1, kFileChunk, file);
    if (got == 0) {
      if (ferror(file))
        Fail(context, error, GDK_PIXBUF_ERROR_FAILED, "the WPP image's file could not be read");
      break;
    }
    LoadIncrement(context, chunk, static_cast<guint>(got), error);
  }
  g_free(chunk);
  GdkPixbuf* pixbuf = nullptr;
  // The first failure's reason stands: no second one over it.
  StopLoad(context, context->failed ? nullptr : error, &pixbuf);
  return pixbuf;
}

// No signature: WPP has no magic number, and its header's arithmetic is no
// byte pattern. Files reach the module by their MIME type, from its glob.
GdkPixbufModulePattern kSignature[] = {{nullptr, nullptr, 0}};
gchar kName[] = "wpp";
gchar kDescription[] = "WPP image";
gchar kMimeType[] = "image/x-wpp";
gchar kExtension[] = "wpp";
gchar kLicense[] = "MIT";
gchar* kMimeTypes[] = {kMimeType, nullptr};
gchar* kExtensions[] = {kExtension, nullptr};

}  // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
  module->load = LoadFile;
  module->begin_load = BeginLoad;
  module->stop_load = StopIncrementalLoad;
  module->load_increment = LoadIncrement;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
  info->name = kName;
  info->signature = kSignature;
  info->domain = nullptr;
  info->description = kDescription;
  info->mime_types = kMimeTypes;
  info->extensions = kExtensions;
  info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
  info->license = kLicense;
}

}  // extern "C"
