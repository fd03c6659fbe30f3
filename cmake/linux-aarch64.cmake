# The native build's ARM64 twin: clang for aarch64 Linux against the ARM64
# root, a sysroot that set-up unpacks from downloaded arm64 packages (the C
# and C++ libraries, GoogleTest) instead of installing them beside the
# machine's own, where an arm64 index that lags the machine's would stop
# them. Its programs run under qemu's user-mode emulator, which finds their
# libraries through QEMU_LD_PREFIX, the root that the preset names. Debian's
# GCC cross compiler would do as well, but it cannot be installed beside the
# 32-bit native build's multilib GCC.
set(WPP_ARM64_ROOT "$ENV{QEMU_LD_PREFIX}" CACHE PATH "the unpacked arm64 packages")
if(NOT EXISTS "${WPP_ARM64_ROOT}/usr/include/aarch64-linux-gnu")
  message(FATAL_ERROR "no ARM64 root at '${WPP_ARM64_ROOT}': run scripts/setup native-arm64")
endif()
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_SYSROOT ${WPP_ARM64_ROOT})
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_EXE_LINKER_FLAGS_INIT -fuse-ld=lld)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -fuse-ld=lld)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static)
