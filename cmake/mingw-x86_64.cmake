# The 64-bit product and its tests: MinGW-w64 for x86-64.
set(WPP_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
