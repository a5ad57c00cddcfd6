# Cross-builds for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix: the
# POSIX-threads variant, so that std::thread and std::mutex work):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DORRINFOLD_BUILD_GUI=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORRINFOLD_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORRINFOLD_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORRINFOLD_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ORRINFOLD_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORRINFOLD_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config sees only libraries built for MinGW, never the build machine's own.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${ORRINFOLD_MINGW}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Linked statically: the programs need no MinGW runtime DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine (wine64 from Debian) when there is one.
find_program(ORRINFOLD_WINE NAMES wine64 wine)
if(ORRINFOLD_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORRINFOLD_WINE})
endif()
