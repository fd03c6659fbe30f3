// Lists what a COM server's DllRegisterServer writes, without writing it:
// the predefined keys are mapped onto scratch keys for the call (as
// RegOverridePredefKey is meant for), then read back. The installer's
// registry rows are made from this list, so they are the registration's own
// table and never a second copy of it.
//   registry_rows DLL    one line a value, tab-separated:
//     value ROOT KEY NAME TYPE DATA [others]
//                                     (NAME empty: the key's default value;
//                                      DATA text, a decimal number or hex
//                                      bytes; others: registering again over
//                                      another program's value keeps that
//                                      one, so the value may be another's)
//     key ROOT KEY                    a key that holds nothing
//     module PATH                     the DLL's own path, as it wrote it
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kScratch[] = L"Software\\wpp registration rows";
struct Root {
  HKEY predefined;
  const wchar_t* name;
};
const Root kRoots[] = {
    {HKEY_LOCAL_MACHINE, L"HKLM"}, {HKEY_CURRENT_USER, L"HKCU"}, {HKEY_CLASSES_ROOT, L"HKCR"}};
// Registry limits: 255 characters a key name, 16,383 a value name.
constexpr DWORD kNameChars = 16384;

// What stands in for another program's value when registering again: a
// text that no registration writes.
constexpr wchar_t kForeign[] = L"\x1another program's";

void Print(const std::wstring& line) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8.data(), size, nullptr, nullptr);
  std::printf("%s\n", utf8.c_str());
}

std::wstring Data(DWORD type, const std::vector<BYTE>& bytes) {
  if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    for (wchar_t& c : text)
      if (c == L'\0') c = L'|';  // a list's separator; no text of ours holds one
    return text;
  }
  if (type == REG_DWORD && bytes.size() == 4) {
    const DWORD value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | DWORD{bytes[3]} << 24;
    return std::to_wstring(value);
  }
  std::wstring hex;
  for (BYTE b : bytes) {
    hex += L"0123456789ABCDEF"[b >> 4];
    hex += L"0123456789ABCDEF"[b & 15];
  }
  return hex;
}

const wchar_t* TypeName(DWORD type) {
  switch (type) {
    case REG_SZ:
      return L"sz";
    case REG_EXPAND_SZ:
      return L"expand_sz";
    case REG_MULTI_SZ:
      return L"multi_sz";
    case REG_DWORD:
      return L"dword";
    case REG_BINARY:
      return L"binary";
    case REG_NONE:
      return L"none";
    default:
      return L"other";
  }
}

struct Listed {
  HKEY scratch;
  std::wstring path, name, line;  // name empty and line "key…": a key that holds nothing
  bool isValue;
};

// Every value under key, and every key that holds nothing, depth first.
void List(HKEY scratch, HKEY key, const std::wstring& root, const std::wstring& path,
          std::vector<Listed>* out) {
  DWORD subkeys = 0, values = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                   nullptr, nullptr, nullptr);
  if (subkeys == 0 && values == 0 && !path.empty())
    out->push_back({scratch, path, L"", L"key\t" + root + L"\t" + path, false});
  std::vector<wchar_t> name(kNameChars);
  for (DWORD i = 0; i < values; ++i) {
    DWORD chars = kNameChars, type = 0, size = 0;
    if (RegEnumValueW(key, i, name.data(), &chars, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      continue;
    std::vector<BYTE> bytes(size);
    chars = kNameChars;
    RegEnumValueW(key, i, name.data(), &chars, nullptr, &type, bytes.data(), &size);
    const std::wstring valueName(name.data(), chars);
    out->push_back({scratch, path, valueName,
                    L"value\t" + root + L"\t" + path + L"\t" + valueName + L"\t" + TypeName(type) +
                        L"\t" + Data(type, bytes),
                    true});
  }
  for (DWORD i = 0; i < subkeys; ++i) {
    DWORD chars = kNameChars;
    if (RegEnumKeyExW(key, i, name.data(), &chars, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      continue;
    const std::wstring child(name.data(), chars);
    HKEY sub;
    if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) continue;
    List(scratch, sub, root, path.empty() ? child : path + L"\\" + child, out);
    RegCloseKey(sub);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: registry_rows DLL\n");
    return 1;
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);  // what a run that was stopped left
  HKEY scratch[sizeof kRoots / sizeof kRoots[0]];
  for (size_t i = 0; i < sizeof kRoots / sizeof kRoots[0]; ++i) {
    const std::wstring path = std::wstring(kScratch) + L"\\" + kRoots[i].name;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &scratch[i], nullptr) != ERROR_SUCCESS) {
      std::fprintf(stderr, "registry_rows: cannot make the scratch keys\n");
      return 1;
    }
  }
  HMODULE dll = LoadLibraryW(argv[1]);
  const auto registerServer =
      dll != nullptr ? reinterpret_cast<HRESULT(WINAPI*)()>(
                           reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")))
                     : nullptr;
  const auto registerIntoScratch = [&] {
    for (size_t i = 0; i < sizeof kRoots / sizeof kRoots[0]; ++i)
      RegOverridePredefKey(kRoots[i].predefined, scratch[i]);
    const HRESULT status = registerServer();
    for (const Root& root : kRoots) RegOverridePredefKey(root.predefined, nullptr);
    return status;
  };
  HRESULT result = registerServer != nullptr ? registerIntoScratch() : E_FAIL;
  std::vector<Listed> listed;
  for (size_t i = 0; SUCCEEDED(result) && i < sizeof kRoots / sizeof kRoots[0]; ++i)
    List(scratch[i], scratch[i], kRoots[i].name, L"", &listed);
  // Every value another program's, then registered again: what still holds
  // the stand-in is a value the registration writes only where none is.
  for (const Listed& l : listed) {
    HKEY key;
    if (!l.isValue ||
        RegOpenKeyExW(l.scratch, l.path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
      continue;
    RegSetValueExW(key, l.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(kForeign),
                   sizeof kForeign);
    RegCloseKey(key);
  }
  if (SUCCEEDED(result)) result = registerIntoScratch();
  if (SUCCEEDED(result)) {
    std::vector<wchar_t> path(MAX_PATH * 4);
    const DWORD chars = GetModuleFileNameW(dll, path.data(), static_cast<DWORD>(path.size()));
    Print(L"module\t" + std::wstring(path.data(), chars));
    for (const Listed& l : listed) {
      wchar_t have[sizeof kForeign / sizeof kForeign[0]] = {};
      DWORD size = sizeof have, type = 0;
      const bool kept = l.isValue &&
                        RegGetValueW(l.scratch, l.path.c_str(), l.name.c_str(), RRF_RT_ANY, &type,
                                     have, &size) == ERROR_SUCCESS &&
                        type == REG_SZ && size == sizeof kForeign && lstrcmpW(have, kForeign) == 0;
      Print(kept ? l.line + L"\tothers" : l.line);
    }
  } else {
    std::fprintf(stderr, "registry_rows: DllRegisterServer of that DLL failed (0x%08lX)\n",
                 static_cast<unsigned long>(result));
  }
  for (HKEY key : scratch) RegCloseKey(key);
  RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
  return SUCCEEDED(result) ? 0 : 1;
}
