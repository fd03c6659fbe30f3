// Registration: the decoder's class, its place among WIC's decoders, the
// property handler, and the .wpp file type for the shell, machine-wide
// (DllRegisterServer, under HKEY_LOCAL_MACHINE) or for the current user alone
// (regsvr32 /n /i:user, under HKEY_CURRENT_USER\Software\Classes, where the
// shell reads no kind map and no property handler, so neither is written).
//
// Registering twice is the same as once, and a registration that fails part
// way puts back what it changed, so an earlier one keeps working. Values that
// another program may own are written only where the key has none of that
// name and removed only where they still hold ours. The classes apart from
// CLSID, and the kind map, are one key for 32- and 64-bit programs: they stay
// while the other width's decoder is registered, and go with the last one.
// The shell is told after either, so that it drops the blank thumbnails it
// has cached.

#include <shlobj.h>
#include <thumbcache.h>

#include "wic/codec.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this DLL's own module, as the linker places it

namespace wic {
namespace {

// The shell's thumbnail provider for any WIC format.
constexpr GUID kPhotoThumbnailProvider = {
    0xC7657C4A, 0x9F68, 0x40FA, {0xA4, 0xDF, 0x96, 0xBC, 0x08, 0xEB, 0x35, 0x51}};

// %X in a key or a text stands for the GUID marked X here.
struct Mark {
  wchar_t mark;
  const GUID* guid;
};
const Mark kMarks[] = {
    {L'D', &kDecoderClsid},           {L'H', &kPropertyHandlerClsid},
    {L'C', &kContainerFormat},        {L'V', &kVendor},
    {L'K', &CATID_WICBitmapDecoders}, {L'F', &GUID_WICPixelFormat16bppBGR565},
    {L'T', &IID_IThumbnailProvider},  {L't', &kPhotoThumbnailProvider},
};

// Where an entry's key lies.
enum class Place : uint8_t {
  Classes,         // the hive's Software\Classes
  MachineClasses,  // the same, machine-wide only
  Machine,         // HKLM's Windows\CurrentVersion, in this width's view
  Machine64,       // the same in the 64-bit view, which 64-bit Explorer reads
};
constexpr Place kClasses = Place::Classes, kMachineClasses = Place::MachineClasses,
                kMachine = Place::Machine, kMachine64 = Place::Machine64;
const wchar_t* const kPlaceRoots[] = {L"Software\\Classes\\", L"Software\\Classes\\",
                                      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\",
                                      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"};

enum class Kind : uint8_t { Key, Text, Number, Bytes, ModulePath, Empty };
struct Entry {
  Place place;
  const wchar_t* key;   // under the place's root
  const wchar_t* name;  // null: the key's default value
  Kind kind;
  const wchar_t* text = nullptr;
  DWORD number = 0;
  const BYTE* bytes = nullptr;  // kByteCount of them
  bool others = false;          // another program may own it: written only where absent
};
constexpr DWORD kByteCount = 1;

// WPP has no magic number: a header is recognised by its arithmetic, so the
// pattern is the one thing every header has in common, an even dataLength
// (its low byte at offset 16), and Initialize decides. It matches half of all
// files, so the decoder has no ArbitrationPriority: absent is 0, the lowest,
// and every other decoder whose pattern matches is asked first.
constexpr BYTE kPatternByte[kByteCount] = {0x00};
constexpr BYTE kPatternMask[kByteCount] = {0x01};
constexpr DWORD kPatternPosition = 16;

#define WPP_DECODER_NAME L"WPP Decoder"
#define WPP_MIME_TYPE L"image/x-wpp"
#define WPP_PROGID L"wpp.Image.1"
// What Explorer shows of a WPP picture where it lists properties.
#define WPP_IMAGE_DETAILS                                 \
  L"System.Image.Dimensions;System.Image.HorizontalSize;" \
  L"System.Image.VerticalSize;System.Image.BitDepth"
#define WPP_FULL_DETAILS \
  L"prop:System.PropGroup.Image;" WPP_IMAGE_DETAILS L";System.PropGroup.FileSystem;"         \
  L"System.ItemNameDisplay;System.ItemTypeText;System.ItemFolderPathDisplay;System.Size;" \
  L"System.DateCreated;System.DateModified"
#define WPP_PREVIEW_DETAILS \
  L"prop:System.Image.Dimensions;System.Image.BitDepth;System.Size;System.DateModified"
#define WPP_INFO_TIP \
  L"prop:System.ItemTypeText;System.Image.Dimensions;System.Size;System.DateModified"
#define WPP_TILE_INFO L"prop:System.ItemTypeText;System.Image.Dimensions;System.Size"
// Parents come before their children: unregistering goes backwards.
const Entry kEntries[] = {
    // A user's classes may have had no CLSID key before ours.
    {kClasses, L"CLSID", nullptr, Kind::Key, nullptr, 0, nullptr, true},
    {kClasses, L"CLSID\\%D", nullptr, Kind::Text, WPP_DECODER_NAME},
    {kClasses, L"CLSID\\%D", L"FriendlyName", Kind::Text, WPP_DECODER_NAME},
    {kClasses, L"CLSID\\%D", L"Author", Kind::Text, L"the wpp project"},
    {kClasses, L"CLSID\\%D", L"Vendor", Kind::Text, L"%V"},
    {kClasses, L"CLSID\\%D", L"Version", Kind::Text, L"" WPP_VERSION},
    {kClasses, L"CLSID\\%D", L"ContainerFormat", Kind::Text, L"%C"},
    {kClasses, L"CLSID\\%D", L"FileExtensions", Kind::Text, L".wpp"},
    {kClasses, L"CLSID\\%D", L"MimeTypes", Kind::Text, WPP_MIME_TYPE},
    {kClasses, L"CLSID\\%D", L"SupportAnimation", Kind::Number, nullptr, 0},
    {kClasses, L"CLSID\\%D", L"SupportChromakey", Kind::Number, nullptr, 0},
    {kClasses, L"CLSID\\%D", L"SupportLossless", Kind::Number, nullptr, 1},
    {kClasses, L"CLSID\\%D", L"SupportMultiframe", Kind::Number, nullptr, 0},
    {kClasses, L"CLSID\\%D\\InprocServer32", nullptr, Kind::ModulePath},
    {kClasses, L"CLSID\\%D\\InprocServer32", L"ThreadingModel", Kind::Text, L"Both"},
    {kClasses, L"CLSID\\%D\\Formats", nullptr, Kind::Key},
    {kClasses, L"CLSID\\%D\\Formats\\%F", nullptr, Kind::Key},
    {kClasses, L"CLSID\\%D\\Patterns", nullptr, Kind::Key},
    {kClasses, L"CLSID\\%D\\Patterns\\0", L"Position", Kind::Number, nullptr, kPatternPosition},
    {kClasses, L"CLSID\\%D\\Patterns\\0", L"Length", Kind::Number, nullptr, kByteCount},
    {kClasses, L"CLSID\\%D\\Patterns\\0", L"Pattern", Kind::Bytes, nullptr, 0, kPatternByte},
    {kClasses, L"CLSID\\%D\\Patterns\\0", L"Mask", Kind::Bytes, nullptr, 0, kPatternMask},
    {kClasses, L"CLSID\\%D\\Patterns\\0", L"EndOfStream", Kind::Number, nullptr, 0},
    // The category's keys stay while another decoder is in them.
    {kClasses, L"CLSID\\%K", nullptr, Kind::Key, nullptr, 0, nullptr, true},
    {kClasses, L"CLSID\\%K\\Instance", nullptr, Kind::Key, nullptr, 0, nullptr, true},
    {kClasses, L"CLSID\\%K\\Instance\\%D", L"CLSID", Kind::Text, L"%D"},
    {kClasses, L"CLSID\\%K\\Instance\\%D", L"FriendlyName", Kind::Text, WPP_DECODER_NAME},
    {kMachineClasses, L"CLSID\\%H", nullptr, Kind::Text, L"WPP Property Handler"},
    {kMachineClasses, L"CLSID\\%H\\InprocServer32", nullptr, Kind::ModulePath},
    {kMachineClasses, L"CLSID\\%H\\InprocServer32", L"ThreadingModel", Kind::Text, L"Both"},
    // Our type: its name in Explorer's Type column and its lists of properties.
    {kClasses, WPP_PROGID, nullptr, Kind::Text, L"WPP image"},
    {kClasses, WPP_PROGID, L"FullDetails", Kind::Text, WPP_FULL_DETAILS},
    {kClasses, WPP_PROGID, L"PreviewDetails", Kind::Text, WPP_PREVIEW_DETAILS},
    {kClasses, WPP_PROGID, L"InfoTip", Kind::Text, WPP_INFO_TIP},
    {kClasses, WPP_PROGID, L"TileInfo", Kind::Text, WPP_TILE_INFO},
    {kClasses, L".wpp", nullptr, Kind::Text, WPP_PROGID, 0, nullptr, true},
    {kClasses, L".wpp", L"Content Type", Kind::Text, WPP_MIME_TYPE, 0, nullptr, true},
    {kClasses, L".wpp", L"PerceivedType", Kind::Text, L"image", 0, nullptr, true},
    {kClasses, L".wpp\\OpenWithProgids", nullptr, Kind::Key, nullptr, 0, nullptr, true},
    {kClasses, L".wpp\\OpenWithProgids", WPP_PROGID, Kind::Empty},
    {kClasses, L".wpp\\ShellEx", nullptr, Kind::Key, nullptr, 0, nullptr, true},
    {kClasses, L".wpp\\ShellEx\\%T", nullptr, Kind::Text, L"%t", 0, nullptr, true},
    // Where the shell looks whichever program owns .wpp's type.
    {kClasses, L"SystemFileAssociations", nullptr, Kind::Key, nullptr, 0, nullptr, true},
    {kClasses, L"SystemFileAssociations\\.wpp", nullptr, Kind::Key, nullptr, 0, nullptr, true},
    {kClasses, L"SystemFileAssociations\\.wpp", L"FullDetails", Kind::Text, WPP_FULL_DETAILS, 0,
     nullptr, true},
    {kClasses, L"SystemFileAssociations\\.wpp", L"PreviewDetails", Kind::Text, WPP_PREVIEW_DETAILS,
     0, nullptr, true},
    {kClasses, L"SystemFileAssociations\\.wpp", L"InfoTip", Kind::Text, WPP_INFO_TIP, 0, nullptr,
     true},
    {kClasses, L"SystemFileAssociations\\.wpp", L"TileInfo", Kind::Text, WPP_TILE_INFO, 0, nullptr,
     true},
    {kClasses, L"SystemFileAssociations\\.wpp\\ShellEx", nullptr, Kind::Key, nullptr, 0, nullptr,
     true},
    {kClasses, L"SystemFileAssociations\\.wpp\\ShellEx\\%T", nullptr, Kind::Text, L"%t", 0, nullptr,
     true},
    {kMachine, L"PropertySystem", nullptr, Kind::Key, nullptr, 0, nullptr, true},
    {kMachine, L"PropertySystem\\PropertyHandlers", nullptr, Kind::Key, nullptr, 0, nullptr, true},
    {kMachine, L"PropertySystem\\PropertyHandlers\\.wpp", nullptr, Kind::Text, L"%H", 0, nullptr,
     true},
    // Search and the libraries count WPP files as pictures.
    {kMachine64, L"Explorer", nullptr, Kind::Key, nullptr, 0, nullptr, true},
    {kMachine64, L"Explorer\\KindMap", nullptr, Kind::Key, nullptr, 0, nullptr, true},
    {kMachine64, L"Explorer\\KindMap", L".wpp", Kind::Text, L"picture", 0, nullptr, true},
};
constexpr size_t kEntryCount = sizeof kEntries / sizeof kEntries[0];

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
    case Kind::Empty:
      v->type = REG_NONE;
      v->data = nullptr;
      v->size = 0;
      return true;
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

// Whether the entry is written in this hive at all.
bool Applies(const Entry& e, HKEY hive) {
  return e.place == Place::Classes || hive == HKEY_LOCAL_MACHINE;
}
// Whether the entry's key is one for each width: CLSID's, and this width's
// view of Windows\CurrentVersion; the rest of the classes and the 64-bit view
// are one for both.
bool OneEach(const Entry& e) {
  if (e.place == Place::Machine) return true;
  if (e.place == Place::Machine64) return false;
  const wchar_t* clsid = L"CLSID";
  const wchar_t* key = e.key;
  for (; *clsid != L'\0'; ++clsid, ++key)
    if (*key != *clsid) return false;
  return *key == L'\0' || *key == L'\\';
}
REGSAM ViewOf(const Entry& e) { return e.place == Place::Machine64 ? KEY_WOW64_64KEY : 0; }

// The entry's key from the hive, NUL-terminated.
void PathOf(const Entry& e, wchar_t* out) {
  const wchar_t* root = kPlaceRoots[static_cast<int>(e.place)];
  while (*root != L'\0') *out++ = *root++;
  Expand(e.key, out);
}
bool SameKey(const Entry& a, const Entry& b) {
  return a.place == b.place && lstrcmpW(a.key, b.key) == 0;
}

// Removes the key at path once it has no values and no subkeys, through its
// parent, so that the 64-bit view's keys go from the 64-bit view.
LONG DeleteKeyIfEmpty(HKEY hive, wchar_t* path, REGSAM view) {
  HKEY key;
  LONG status = RegOpenKeyExW(hive, path, 0, KEY_QUERY_VALUE | view, &key);
  if (status != ERROR_SUCCESS) return status;
  DWORD subkeys = 1, values = 1;
  status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                            nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || subkeys != 0 || values != 0) return status;
  wchar_t* leaf = path;
  for (wchar_t* c = path; *c != L'\0'; ++c)
    if (*c == L'\\') leaf = c;
  *leaf = L'\0';  // path is now the parent's
  HKEY parent;
  status = RegOpenKeyExW(hive, path, 0, KEY_QUERY_VALUE | view, &parent);
  if (status != ERROR_SUCCESS) return status;
  status = RegDeleteKeyW(parent, leaf + 1);
  RegCloseKey(parent);
  return status;
}

// What registering changed at one entry, so that a failure puts it back.
struct Undo {
  bool createdKey;
  bool wroteValue;
  bool hadValue;  // and this was it
  DWORD type, size;
  BYTE old[kTextChars * sizeof(wchar_t)];
};

// Writes the entries in order; *done tells how many were handled.
HRESULT Register(HKEY hive, Undo* undo, size_t* done) {
  for (*done = 0; *done < kEntryCount; ++*done) {
    const Entry& e = kEntries[*done];
    Undo& u = undo[*done];
    if (!Applies(e, hive)) continue;
    wchar_t path[kTextChars];
    PathOf(e, path);
    HKEY key;
    DWORD disposition = 0;
    LONG status =
        RegCreateKeyExW(hive, path, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | ViewOf(e),
                        nullptr, &key, &disposition);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    u.createdKey = disposition == REG_CREATED_NEW_KEY;
    u.size = sizeof u.old;
    const LONG had = e.kind == Kind::Key
                         ? ERROR_FILE_NOT_FOUND
                         : RegQueryValueExW(key, e.name, nullptr, &u.type, u.old, &u.size);
    u.hadValue = had == ERROR_SUCCESS;
    Value v;
    if (e.kind == Kind::Key || (e.others && had != ERROR_FILE_NOT_FOUND))
      status = ERROR_SUCCESS;
    else if (!ValueOf(e, &v))
      status = ERROR_FILENAME_EXCED_RANGE;
    else if (u.hadValue && Holds(key, e.name, &v))
      status = ERROR_SUCCESS;
    else if (!u.hadValue && had != ERROR_FILE_NOT_FOUND)
      status = had;  // a value of ours too long to put back after a failure
    else
      u.wroteValue =
          (status = RegSetValueExW(key, e.name, 0, v.type, v.data, v.size)) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  }
  return S_OK;
}

// Puts back what the first count entries' registration changed, last first.
void Rollback(HKEY hive, const Undo* undo, size_t count) {
  while (count-- > 0) {
    const Entry& e = kEntries[count];
    const Undo& u = undo[count];
    wchar_t path[kTextChars];
    PathOf(e, path);
    HKEY key;
    if (u.wroteValue &&
        RegOpenKeyExW(hive, path, 0, KEY_SET_VALUE | ViewOf(e), &key) == ERROR_SUCCESS) {
      if (u.hadValue)
        RegSetValueExW(key, e.name, 0, u.type, u.old, u.size);
      else
        RegDeleteValueW(key, e.name);
      RegCloseKey(key);
    }
    if (u.createdKey) DeleteKeyIfEmpty(hive, path, ViewOf(e));
  }
}

// Whether the decoder of the other width is registered in this hive: its
// CLSID key, in the other view. Where there is no other view (32-bit
// Windows), the flag is ignored and our own view answers, whose key is gone
// by the time this is asked.
bool OtherWidthRegistered(HKEY hive) {
  const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  wchar_t path[kTextChars] = L"Software\\Classes\\CLSID\\";
  wchar_t* end = path;
  while (*end != L'\0') ++end;
  Expand(L"%D\\InprocServer32", end);
  HKEY key;
  if (RegOpenKeyExW(hive, path, 0, KEY_QUERY_VALUE | otherView, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// Removes what registering wrote: each width's own keys, then, unless the
// other width is still registered, the keys both share.
HRESULT Unregister(HKEY hive) {
  HRESULT result = S_OK;
  const auto note = [&](LONG status) {
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && SUCCEEDED(result))
      result = HRESULT_FROM_WIN32(status);
  };
  for (int pass = 0; pass < 2; ++pass) {
    const bool oneEach = pass == 0;
    if (!oneEach && OtherWidthRegistered(hive)) break;
    // Backwards: each value, then its key once it is empty, children first.
    for (size_t i = kEntryCount; i-- > 0;) {
      const Entry& e = kEntries[i];
      if (!Applies(e, hive) || OneEach(e) != oneEach) continue;
      wchar_t path[kTextChars];
      PathOf(e, path);
      HKEY key;
      const LONG status =
          RegOpenKeyExW(hive, path, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | ViewOf(e), &key);
      if (status != ERROR_SUCCESS) {
        note(status);
        continue;
      }
      Value v;
      if (e.kind != Kind::Key && (!e.others || (ValueOf(e, &v) && Holds(key, e.name, &v))))
        note(RegDeleteValueW(key, e.name));
      RegCloseKey(key);
      if (i == 0 || !SameKey(kEntries[i - 1], e)) note(DeleteKeyIfEmpty(hive, path, ViewOf(e)));
    }
  }
  return result;
}

// Tells the shell that file types changed. SHELL32 is loaded for this call
// alone: every program that opens pictures through WIC loads the codec, and
// none of them should load the shell for it.
void TellShell() {
  HMODULE shell = LoadLibraryW(L"shell32.dll");
  if (shell == nullptr) return;
  using Notify = void(WINAPI*)(LONG, UINT, const void*, const void*);
  const auto notify =
      reinterpret_cast<Notify>(reinterpret_cast<void*>(GetProcAddress(shell, "SHChangeNotify")));
  if (notify != nullptr) notify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  FreeLibrary(shell);
}

// Registers in (or removes from) the hive, HKEY_LOCAL_MACHINE for every
// user, whatever the current user's classes hold, or HKEY_CURRENT_USER, for
// which no administrator is needed. A hive that had no classes key has none
// again.
HRESULT Install(HKEY hive, bool install) {
  HRESULT result;
  if (install) {
    auto* undo = static_cast<Undo*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kEntryCount * sizeof(Undo)));
    if (undo == nullptr) return E_OUTOFMEMORY;
    size_t done = 0;
    result = Register(hive, undo, &done);
    if (FAILED(result)) Rollback(hive, undo, done + 1);  // the failed one may have made its key
    HeapFree(GetProcessHeap(), 0, undo);
  } else {
    result = Unregister(hive);
  }
  wchar_t classes[] = L"Software\\Classes";
  DeleteKeyIfEmpty(hive, classes, 0);
  TellShell();
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
