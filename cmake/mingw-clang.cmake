# Cross-compiles for Windows with clang and lld, for the processor that the
# including toolchain file names in WPP_MINGW_PROCESSOR. For targets that
# Debian's MinGW-w64 GCC does not cover (ARM64): the MinGW-w64 headers are
# the same for every target, and there is no C runtime or libgcc for them, so
# every program built here is freestanding and imports only what it names.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${WPP_MINGW_PROCESSOR})
set(triple ${WPP_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${triple})
set(CMAKE_CXX_COMPILER_TARGET ${triple})
# Debian names llvm-windres by its version only.
find_program(CMAKE_RC_COMPILER NAMES llvm-windres llvm-windres-16 llvm-windres-15 llvm-windres-14
             REQUIRED)
set(CMAKE_RC_FLAGS_INIT "--target=${triple}")
set(WPP_FREESTANDING ON)
# Import libraries are made from our own lists of what we call (llvm-dlltool).
set(WPP_DLLTOOL llvm-dlltool)
set(WPP_DLLTOOL_MACHINE arm64)
set(flags "-isystem /usr/share/mingw-w64/include")
set(CMAKE_C_FLAGS_INIT "${flags}")
set(CMAKE_CXX_FLAGS_INIT "${flags}")
# lld, and no start-up files or libraries the target does not have.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -nostdlib")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -nostdlib")
# CMake's own compiler checks link a program with a C runtime: a library will do.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Windows programs run under Wine, each width and processor in its own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
