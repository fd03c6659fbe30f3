// The KERNEL32 subset the plug-in calls. Under MinGW this is the real Windows
// header; on Linux it is our POSIX layer, a shared library of its own that
// stands where KERNEL32.DLL stands, so the plug-in and every host share one
// allocator and one set of handles.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "posix/kernel32.h"
#endif
