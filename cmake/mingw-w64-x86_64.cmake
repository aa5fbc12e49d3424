# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 toolchain (the
# POSIX-threads variant: std::thread and std::mutex need it). Everything is
# linked statically, so tracemill.exe needs no DLL beside the system's own.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DTRACEMILL_WINDOWS_DEPS="<prefix>;<prefix>..."
# TRACEMILL_WINDOWS_DEPS lists the install folders of the libraries built for
# MinGW (scripts/build-windows-deps prints it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TRACEMILL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TRACEMILL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TRACEMILL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TRACEMILL_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW sysroot and the dependency builds
# only, never from the build machine's /usr; programs from the build machine.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TRACEMILL_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${TRACEMILL_MINGW_TRIPLET} ${TRACEMILL_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(OPENSSL_USE_STATIC_LIBS TRUE)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# Tests and test discovery run the Windows programs under Wine, through the
# script that starts a program again when Wine could not set up its process.
find_program(TRACEMILL_WINE NAMES wine)
if(TRACEMILL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
endif()
