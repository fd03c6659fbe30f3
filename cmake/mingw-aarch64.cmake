# The ARM64 product and its test host: clang and lld for aarch64 Windows.
set(WPP_MINGW_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-clang.cmake)
