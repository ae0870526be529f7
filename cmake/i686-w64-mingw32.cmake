# Cross toolchain: 32-bit Windows with MinGW-w64, posix threads flavour. Tests
# run in the project's own 32-bit Wine prefix.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_PREFIX i686-w64-mingw32)
set(VAVIZAV_WINEARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
