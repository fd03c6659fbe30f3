# The web build: a WebAssembly module from Debian's clang-16 and lld-16, for
# wasm32 against Debian's wasi-libc (which clang finds in its multiarch
# folders), whose malloc and string functions it links; no WASI call is
# made, so the module imports nothing.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_C_COMPILER clang-16)
set(CMAKE_CXX_COMPILER clang++-16)
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
set(CMAKE_EXE_LINKER_FLAGS_INIT -fuse-ld=lld)
# A module is one static link: nothing in it is position-independent.
set(CMAKE_POSITION_INDEPENDENT_CODE OFF)
# CMake's compiler check links a program with a main; a module has none.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
