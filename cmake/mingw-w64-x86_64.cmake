# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (g++ 12, the
# posix thread model that std::thread needs) and runs what it builds under
# Wine. The C++ runtime, libgcc and winpthread are linked in, so a program
# or DLL built here needs no DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Release at -O2: GCC 12's -O3 warns of string copies that cannot happen
# (-Wrestrict), and -Werror makes that fatal.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags for Release builds")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Release builds are stripped: brackwater-dat.exe is one file to hand on.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_SHARED_LINKER_FLAGS_RELEASE_INIT "-s")
# A DLL exports its own code, not the runtime linked into it, which every
# program that uses it links in too.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--exclude-libs,ALL")

# Libraries and packages come from the MinGW-w64 sysroot only (and from the
# folders the build adds for header-only packages), never from the host's.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

