# The native build's ARM64 twin: clang for aarch64 Linux against the arm64
# system libraries that set-up installs beside the machine's own (GoogleTest
# too), its programs run under qemu's user-mode emulator. Debian's GCC cross
# compiler would do as well, but it cannot be installed beside the 32-bit
# native build's multilib GCC.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_EXE_LINKER_FLAGS_INIT -fuse-ld=lld)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -fuse-ld=lld)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static)
