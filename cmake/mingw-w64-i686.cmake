# 32-bit Windows executables, cross-built with mingw-w64 (see mingw-w64.cmake).
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
