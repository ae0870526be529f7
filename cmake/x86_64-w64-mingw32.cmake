# Cross toolchain: 64-bit Windows (x64) with MinGW-w64, posix threads flavour.
# Tests run in the project's own 64-bit Wine prefix, where 32-bit programs run
# beside 64-bit ones as on 64-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_PREFIX x86_64-w64-mingw32)
set(VAVIZAV_WINEARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
