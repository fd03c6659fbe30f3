// Our POSIX stand-in for the few KERNEL32 calls the plug-in and its hosts use.
// Types, constants and calling convention match the Windows ones at either
// width (DWORD and LONG 32-bit, handles and sizes pointer-sized), so the same
// sources compile against either this file or <windows.h>.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(__i386__)
#define WINAPI __attribute__((stdcall))
#else
#define WINAPI
#endif
#define KERNEL32_API extern "C" __attribute__((visibility("default")))

typedef int BOOL;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef size_t SIZE_T;
typedef void* HANDLE;
typedef void* HLOCAL;
typedef void* HGLOBAL;
typedef void* LPVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef char16_t WCHAR;  // UTF-16, as Windows' wide characters
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef struct SecurityAttributes* LPSECURITY_ATTRIBUTES;
typedef struct Overlapped* LPOVERLAPPED;

static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(SIZE_T) == sizeof(HANDLE),
              "Windows' widths");

#define TRUE 1
#define FALSE 0

#define GENERIC_READ 0x80000000UL
#define FILE_SHARE_READ 0x00000001UL
#define OPEN_EXISTING 3UL
#define FILE_BEGIN 0UL
#define FILE_CURRENT 1UL
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFFUL)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)

#define LMEM_FIXED 0x0000U
#define LMEM_ZEROINIT 0x0040U
#define GMEM_FIXED 0x0000U
#define GMEM_ZEROINIT 0x0040U

#define NO_ERROR 0UL
#define ERROR_FILE_NOT_FOUND 2UL
#define ERROR_INVALID_HANDLE 6UL
#define ERROR_ACCESS_DENIED 5UL
#define ERROR_NOT_ENOUGH_MEMORY 8UL
#define ERROR_READ_FAULT 30UL
#define ERROR_NEGATIVE_SEEK 131UL

#define PF_XMMI64_INSTRUCTIONS_AVAILABLE 10UL

// Files. Handles are small numbers (below 65536), as the plug-in's support
// test relies on to tell a handle from an address.
KERNEL32_API HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share,
                                       LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                       DWORD attributes, HANDLE templateFile);
// The same with a UTF-16 path, opened as the file system's UTF-8; a path that
// is not valid UTF-16 (an unpaired surrogate) names no file.
KERNEL32_API HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share,
                                       LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                       DWORD attributes, HANDLE templateFile);
KERNEL32_API DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh);
KERNEL32_API DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh,
                                         DWORD method);
KERNEL32_API BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD delivered,
                                  LPOVERLAPPED overlapped);
KERNEL32_API BOOL WINAPI CloseHandle(HANDLE object);
KERNEL32_API DWORD WINAPI GetLastError(void);
KERNEL32_API void WINAPI SetLastError(DWORD error);

// Whether the CPU has the feature and the system supports it. Only SSE2 is
// known (Linux saves the XMM registers wherever the CPU has them); any other
// feature answers FALSE, as Windows answers one it does not know.
KERNEL32_API BOOL WINAPI IsProcessorFeaturePresent(DWORD feature);

// Fixed memory blocks: the handle is the block's address.
KERNEL32_API HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes);
KERNEL32_API HLOCAL WINAPI LocalFree(HLOCAL block);
KERNEL32_API SIZE_T WINAPI LocalSize(HLOCAL block);
KERNEL32_API HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
KERNEL32_API HGLOBAL WINAPI GlobalFree(HGLOBAL block);
KERNEL32_API SIZE_T WINAPI GlobalSize(HGLOBAL block);

// 8-bit strings.
KERNEL32_API LPSTR WINAPI lstrcpynA(LPSTR destination, LPCSTR source, int limit);
KERNEL32_API int WINAPI lstrlenA(LPCSTR text);
KERNEL32_API LPSTR WINAPI lstrcpyA(LPSTR destination, LPCSTR source);
// UTF-16 strings, lengths in UTF-16 units.
KERNEL32_API LPWSTR WINAPI lstrcpynW(LPWSTR destination, LPCWSTR source, int limit);
KERNEL32_API int WINAPI lstrlenW(LPCWSTR text);
