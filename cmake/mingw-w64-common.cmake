# Shared part of the MinGW-w64 toolchain files. The -posix compilers give
# std::thread, which GoogleTest and the tests use.
set(CMAKE_C_COMPILER ${ZELKOLINK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELKOLINK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELKOLINK_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${ZELKOLINK_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELKOLINK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine's loader for the target's word size, called directly: the `wine`
# launcher tries the 32-bit loader first, which a kernel without 32-bit
# support cannot even start, and that would take the 64-bit tests down too.
find_program(ZELKOLINK_WINE NAMES ${ZELKOLINK_WINE_LOADER}
  PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
if(NOT ZELKOLINK_WINE AND ZELKOLINK_WINE_LOADER STREQUAL "wine")
  # No 32-bit Wine: name the loader anyway, so the tests find it cannot run
  # and register themselves disabled; the launcher would start the tests and
  # fail them all.
  set(ZELKOLINK_WINE /usr/lib/wine/wine)
elseif(NOT ZELKOLINK_WINE)
  find_program(ZELKOLINK_WINE wine REQUIRED)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELKOLINK_WINE})
