# Settings of the Windows build (cross-compiled with MinGW-w64: make windows).
#
# - C99/POSIX formatting (%zu, %llu) from MinGW's own stdio rather than the system's.
# - Host files are opened in binary mode by the platform functions; _FILE_OFFSET_BITS=64
#   (set for every build) makes off_t, lseek and stat 64-bit, as they are on Linux.
# - The tests run on Linux against the .exe files under Wine; make windows builds the
#   program targets alone (WINDOWS_PROGRAMS in the Makefile).
# - Every program carries the manifest of cmake/windows.manifest (long paths), compiled by
#   windres from cmake/windows.rc; the arguments come from CommandLineToArgvW (shell32).
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1 _POSIX_THREAD_SAFE_FUNCTIONS WIN32_LEAN_AND_MEAN
                        _WIN32_WINNT=0x0601)
add_link_options(-static)
link_libraries(shell32)

set(DW_TESTS OFF CACHE BOOL "Build the tests" FORCE)
set(DW_BENCH OFF CACHE BOOL "Build the benchmarks" FORCE)
set(DW_FUZZ OFF CACHE BOOL "Build the libFuzzer targets" FORCE)

# The tests' probe of the platform layer under Wine (tests/windows/platform_test.cpp).
add_executable(windows_probe ${CMAKE_SOURCE_DIR}/tests/windows/windows_probe.cpp)
target_include_directories(windows_probe PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(windows_probe PRIVATE dw_platform)

# The manifest goes into each program once all of them are defined.
if(CMAKE_VERSION VERSION_LESS 3.19)
  message(FATAL_ERROR "The Windows build needs CMake 3.19 or later")
endif()
enable_language(RC)
function(dw_windows_manifest)
  foreach(program diskwarden reelhead windows_probe)
    if(TARGET ${program})
      target_sources(${program} PRIVATE ${CMAKE_SOURCE_DIR}/cmake/windows.rc)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL dw_windows_manifest)
