// Registration: the decoder's class, its place among WIC's decoders, and the
// .wpp file type for the shell, machine-wide (DllRegisterServer, under
// HKEY_LOCAL_MACHINE\Software\Classes) or for the current user alone
// (regsvr32 /n /i:user, under HKEY_CURRENT_USER\Software\Classes). Registering twice is the same as
// once; unregistering removes what registering wrote and nothing else: the .wpp type's values are
// written only where the key has none of that name (another program may own them), removed only
// where they still hold ours, and a key goes only once it is empty.

#include <shobjidl.h>
#include <thumbcache.h>

#include "wic/codec.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this DLL's own module, as the linker places it

namespace wic {
namespace {

// The shell's handlers that show any WIC format: thumbnails and the preview pane.
constexpr GUID kPhotoThumbnailProvider = {
    0xC7657C4A, 0x9F68, 0x40FA, {0xA4, 0xDF, 0x96, 0xBC, 0x08, 0xEB, 0x35, 0x51}};
constexpr GUID kPhotoPreviewHandler = {
    0xFFE2A43C, 0x56B9, 0x4BF5, {0x9A, 0x79, 0xCC, 0x6D, 0x42, 0x85, 0x60, 0x8A}};

// %X in a key or a text stands for the GUID marked X here.
struct Mark {
  wchar_t mark;
  const GUID* guid;
};
const Mark kMarks[] = {
    {L'D', &kDecoderClsid},
    {L'C', &kContainerFormat},
    {L'V', &kVendor},
    {L'K', &CATID_WICBitmapDecoders},
    {L'F', &GUID_WICPixelFormat16bppBGR565},
    {L'T', &IID_IThumbnailProvider},
    {L'P', &IID_IPreviewHandler},
    {L't', &kPhotoThumbnailProvider},
    {L'p', &kPhotoPreviewHandler},
};

enum class Kind : uint8_t { Key, Text, Number, Bytes, ModulePath };
struct Entry {
  const wchar_t* key;   // under the classes root
  const wchar_t* name;  // null: the key's default value
  Kind kind;
  const wchar_t* text = nullptr;
  DWORD number = 0;
  const BYTE* bytes = nullptr;  // kByteCount of them
  bool shared = false;          // the .wpp type's: written only where absent
};
constexpr DWORD kByteCount = 1;

// WPP has no magic number: a header is recognised by its arithmetic, so the
// pattern is the one thing every header has in common, an even dataLength
// (its low byte at offset 16), and Initialize decides.
constexpr BYTE kPatternByte[kByteCount] = {0x00};
constexpr BYTE kPatternMask[kByteCount] = {0x01};
constexpr DWORD kPatternPosition = 16;

#define WPP_DECODER_NAME L"WPP Decoder"
#define WPP_MIME_TYPE L"image/x-wpp"
// Parents come before their children: unregistering goes backwards.
const Entry kEntries[] = {
    // A user's classes may have had no CLSID key before ours.
    {L"CLSID", nullptr, Kind::Key, nullptr, 0, nullptr, true},
    {L"CLSID\\%D", nullptr, Kind::Text, WPP_DECODER_NAME},
    {L"CLSID\\%D", L"FriendlyName", Kind::Text, WPP_DECODER_NAME},
    {L"CLSID\\%D", L"Author", Kind::Text, L"the wpp project"},
    {L"CLSID\\%D", L"Vendor", Kind::Text, L"%V"},
    {L"CLSID\\%D", L"Version", Kind::Text, L"" WPP_VERSION},
    {L"CLSID\\%D", L"ContainerFormat", Kind::Text, L"%C"},
    {L"CLSID\\%D", L"FileExtensions", Kind::Text, L".wpp"},
    {L"CLSID\\%D", L"MimeTypes", Kind::Text, WPP_MIME_TYPE},
    {L"CLSID\\%D", L"SupportsAnimation", Kind::Number, nullptr, 0},
    {L"CLSID\\%D", L"SupportsChromakey", Kind::Number, nullptr, 0},
    {L"CLSID\\%D", L"SupportsLossless", Kind::Number, nullptr, 1},
    {L"CLSID\\%D", L"SupportsMultiframe", Kind::Number, nullptr, 0},
    {L"CLSID\\%D\\InprocServer32", nullptr, Kind::ModulePath},
    {L"CLSID\\%D\\InprocServer32", L"ThreadingModel", Kind::Text, L"Both"},
    {L"CLSID\\%D\\Formats", nullptr, Kind::Key},
    {L"CLSID\\%D\\Formats\\%F", nullptr, Kind::Key},
    {L"CLSID\\%D\\Patterns", nullptr, Kind::Key},
    {L"CLSID\\%D\\Patterns\\0", L"Position", Kind::Number, nullptr, kPatternPosition},
    {L"CLSID\\%D\\Patterns\\0", L"Length", Kind::Number, nullptr, kByteCount},
    {L"CLSID\\%D\\Patterns\\0", L"Pattern", Kind::Bytes, nullptr, 0, kPatternByte},
    {L"CLSID\\%D\\Patterns\\0", L"Mask", Kind::Bytes, nullptr, 0, kPatternMask},
    {L"CLSID\\%D\\Patterns\\0", L"EndOfStream", Kind::Number, nullptr, 0},
    // The category's keys stay while another decoder is in them.
    {L"CLSID\\%K", nullptr, Kind::Key, nullptr, 0, nullptr, true},
    {L"CLSID\\%K\\Instance", nullptr, Kind::Key, nullptr, 0, nullptr, true},
    {L"CLSID\\%K\\Instance\\%D", L"CLSID", Kind::Text, L"%D"},
    {L"CLSID\\%K\\Instance\\%D", L"FriendlyName", Kind::Text, WPP_DECODER_NAME},
    {L".wpp", L"Content Type", Kind::Text, WPP_MIME_TYPE, 0, nullptr, true},
    {L".wpp", L"PerceivedType", Kind::Text, L"image", 0, nullptr, true},
    {L".wpp\\ShellEx", nullptr, Kind::Key, nullptr, 0, nullptr, true},
    {L".wpp\\ShellEx\\%T", nullptr, Kind::Text, L"%t", 0, nullptr, true},
    {L".wpp\\ShellEx\\%P", nullptr, Kind::Text, L"%p", 0, nullptr, true},
};

// Keys, texts and the module's path: MAX_PATH and more, within one page of stack.
constexpr DWORD kTextChars = 600;

// Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" at out; returns its end.
wchar_t* PutGuid(const GUID& g, wchar_t* out) {
  const auto put = [&](uint32_t value, int digits) {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
      *out++ = L"0123456789ABCDEF"[(value >> shift) & 0xF];
  };
  *out++ = L'{';
  put(g.Data1, 8);
  *out++ = L'-';
  put(g.Data2, 4);
  *out++ = L'-';
  put(g.Data3, 4);
  *out++ = L'-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) *out++ = L'-';
    put(g.Data4[i], 2);
  }
  *out++ = L'}';
  return out;
}

// The pattern with each %X replaced by its GUID, NUL-terminated; the patterns
// are ours and short, so it always fits kTextChars.
void Expand(const wchar_t* pattern, wchar_t* out) {
  for (; *pattern != L'\0'; ++pattern) {
    const Mark* mark = nullptr;
    if (pattern[0] == L'%')
      for (const Mark& m : kMarks)
        if (m.mark == pattern[1]) mark = &m;
    if (mark != nullptr) {
      out = PutGuid(*mark->guid, out);
      ++pattern;
    } else {
      *out++ = *pattern;
    }
  }
  *out = L'\0';
}

// An entry's value as the registry holds it. False when the module's path
// does not fit.
struct Value {
  DWORD type;
  const BYTE* data;
  DWORD size;
  wchar_t text[kTextChars];
};
bool ValueOf(const Entry& e, Value* v) {
  switch (e.kind) {
    case Kind::Number:
      v->type = REG_DWORD;
      v->data = reinterpret_cast<const BYTE*>(&e.number);
      v->size = sizeof e.number;
      return true;
    case Kind::Bytes:
      v->type = REG_BINARY;
      v->data = e.bytes;
      v->size = kByteCount;
      return true;
    case Kind::ModulePath: {
      const DWORD length =
          GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), v->text, kTextChars);
      if (length == 0 || length >= kTextChars) return false;
      v->size = (length + 1) * sizeof(wchar_t);
      break;
    }
    default:
      Expand(e.text, v->text);
      v->size = sizeof(wchar_t);  // the NUL
      for (const wchar_t* c = v->text; *c != L'\0'; ++c) v->size += sizeof(wchar_t);
  }
  v->type = REG_SZ;
  v->data = reinterpret_cast<const BYTE*>(v->text);
  return true;
}

// True when the key's value of that name is there (and, with v, holds v).
bool Holds(HKEY key, const wchar_t* name, const Value* v) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  if (v == nullptr) return true;
  // Ours fit kTextChars; another size is another value.
  BYTE have[kTextChars * sizeof(wchar_t)];
  if (type != v->type || size != v->size ||
      RegQueryValueExW(key, name, nullptr, &type, have, &size) != ERROR_SUCCESS)
    return false;
  for (DWORD i = 0; i < size; ++i)
    if (have[i] != v->data[i]) return false;
  return true;
}

HRESULT Register(HKEY root) {
  for (const Entry& e : kEntries) {
    wchar_t path[kTextChars];
    Expand(e.key, path);
    HKEY key;
    LONG status = RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                  nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    Value v;
    if (e.kind == Kind::Key || (e.shared && Holds(key, e.name, nullptr)))
      status = ERROR_SUCCESS;
    else if (!ValueOf(e, &v))
      status = ERROR_FILENAME_EXCED_RANGE;
    else
      status = RegSetValueExW(key, e.name, 0, v.type, v.data, v.size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  }
  return S_OK;
}

HRESULT Unregister(HKEY root) {
  HRESULT result = S_OK;
  const auto note = [&](LONG status) {
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && SUCCEEDED(result))
      result = HRESULT_FROM_WIN32(status);
  };
  // Backwards: each value, then its key once it is empty, children first.
  for (size_t i = sizeof kEntries / sizeof kEntries[0]; i-- > 0;) {
    const Entry& e = kEntries[i];
    wchar_t path[kTextChars];
    Expand(e.key, path);
    HKEY key;
    const LONG status = RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (status != ERROR_SUCCESS) {
      note(status);
      continue;
    }
    Value v;
    if (e.kind != Kind::Key && (!e.shared || (ValueOf(e, &v) && Holds(key, e.name, &v))))
      note(RegDeleteValueW(key, e.name));
    DWORD subkeys = 1, values = 1;
    note(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                          nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(key);
    const bool lastOfKey = i == 0 || lstrcmpW(kEntries[i - 1].key, e.key) != 0;
    if (lastOfKey && subkeys == 0 && values == 0) note(RegDeleteKeyW(root, path));
  }
  return result;
}

// Registers (or removes) under the hive's Software\Classes, where
// HKEY_CLASSES_ROOT finds it: HKEY_LOCAL_MACHINE's for every user, whatever
// the current user's classes hold (a write through HKEY_CLASSES_ROOT would
// land in those where the key is there too), or HKEY_CURRENT_USER's, for
// which no administrator is needed. A failed registration leaves nothing
// behind; a hive that had no classes key has none again.
HRESULT Install(HKEY hive, bool install) {
  const wchar_t* path = L"Software\\Classes";
  HKEY classes;
  const LONG status =
      RegCreateKeyExW(hive, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &classes, nullptr);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  HRESULT result = install ? Register(classes) : Unregister(classes);
  if (install && FAILED(result)) Unregister(classes);
  DWORD subkeys = 1, values = 1;
  RegQueryInfoKeyW(classes, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                   nullptr, nullptr, nullptr);
  RegCloseKey(classes);
  if (subkeys == 0 && values == 0) RegDeleteKeyW(hive, path);
  return result;
}

bool IsUser(const wchar_t* text) {
  const wchar_t* want = L"user";
  for (; *want != L'\0'; ++text, ++want)
    if ((*text | 0x20) != *want) return false;
  return *text == L'\0';
}

}  // namespace
}  // namespace wic

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  return wic::Install(HKEY_LOCAL_MACHINE, true);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return wic::Install(HKEY_LOCAL_MACHINE, false);
}

// No command line: machine-wide, as DllRegisterServer; "user": the current user's.
extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine) {
  const bool user = commandLine != nullptr && commandLine[0] != L'\0';
  if (user && !wic::IsUser(commandLine)) return E_INVALIDARG;
  return wic::Install(user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, install != FALSE);
}
