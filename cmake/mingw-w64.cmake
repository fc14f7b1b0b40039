# Cross-builds Windows executables with Debian's mingw-w64 and runs them under Wine; included by
# mingw-w64-x86_64.cmake and mingw-w64-i686.cmake, which name the processor.
#   cmake -S . -B build/mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(KEYLOFT_MINGW_TRIPLET ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

# The posix thread model: GoogleTest needs std::thread and std::mutex, which the win32 model's
# libstdc++ lacks in GCC 12.
set(CMAKE_C_COMPILER ${KEYLOFT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KEYLOFT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KEYLOFT_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KEYLOFT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread linked in, so an .exe runs under Wine (or is copied to a
# Windows machine) without the compiler's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

include(${CMAKE_CURRENT_LIST_DIR}/KeyloftWine.cmake)
if(KEYLOFT_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KEYLOFT_WINE})
endif()
