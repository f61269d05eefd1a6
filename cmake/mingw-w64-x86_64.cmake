# Cross-build for 64-bit Windows with Debian's mingw-w64 (the posix thread
# model, which std::thread and std::mutex need), tests run under wine64:
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORX_MINGW_HOST x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${ORX_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORX_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${ORX_MINGW_HOST}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORX_MINGW_HOST})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages (GoogleTest) come from the prefixes the build names.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Windows programs of the build (tests, gtest discovery, the library
# builder) run under wine64, in a prefix of the build's own, quietly.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ORX_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(ORX_WINE64 NAMES wine64)
  if(ORX_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        env WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wine ${ORX_WINE64})
  endif()
endif()
