# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the POSIX-threads flavour,
# whose runtime has clock_gettime), linked statically so that the .exe files need no DLL
# beside the system's. DW_WINDOWS_DEPS names the prefix of the cross-built libraries
# (libdvbpsi); pkg-config looks there and nowhere on the build machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(DW_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${DW_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DW_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${DW_MINGW}-windres)

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DW_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${DW_MINGW} ${DW_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(DW_WINDOWS_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR} ${DW_WINDOWS_DEPS}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
