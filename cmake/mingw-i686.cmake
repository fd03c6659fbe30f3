# The 32-bit product and its tests: MinGW-w64 for i686.
set(WPP_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
