# Cross-compiling toolchain: Linux host -> Windows x64 with mingw-w64 (GCC, posix threads).
#
#   cmake --preset windows          (or -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake)
#
# Run scripts/bootstrap first: it builds the static Windows libraries into
# ${VTL_CACHE_DIR}/mingw-prefix and creates the Wine prefix used to run tests.
#
# Third-party packages found through this file (all static):
#
#   libzip    find_package(libzip CONFIG REQUIRED)
#             target_link_libraries(<tgt> PRIVATE libzip::zip)
#             libzip::zip brings everything a consumer needs:
#               - ZIP_STATIC is defined by the installed zipconf.h (no compile definition needed;
#                 without it zip.h would declare the API dllimport),
#               - link dependencies advapi32 (random numbers), bcrypt (WinZip AES through
#                 Windows CNG) and ZLIB::ZLIB (static libz.a from the mingw sysroot; the
#                 package config runs find_dependency(ZLIB) itself).
#             Linking libzip.a by hand instead: "-lzip -lz -lbcrypt -ladvapi32".
#             Traditional PKWARE encryption (ZIP_EM_TRAD_PKWARE) needs no crypto library.
#   GTest     find_package(GTest CONFIG REQUIRED)
#             GTest::gtest, GTest::gtest_main, GTest::gmock, GTest::gmock_main
#   zlib      find_package(ZLIB) picks the static libz.a (ZLIB_USE_STATIC_LIBS is set below).
#   WebView2  not a CMake package: ${VTL_CACHE_DIR}/nuget/microsoft.web.webview2/<version>/build/native/
#             include/WebView2.h and x64/WebView2Loader.dll (version in cmake/webview2-version.txt).
#
# Test programs run through CMAKE_CROSSCOMPILING_EMULATOR (scripts/wine-run), so add_test(),
# gtest_discover_tests() and ctest work unchanged.

include_guard(GLOBAL)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VTL_MINGW_TRIPLET x86_64-w64-mingw32)
set(VTL_MINGW_SYSROOT /usr/${VTL_MINGW_TRIPLET})

# The -posix variants use the winpthreads threading model; the default (win32) variant
# of GCC 12 has no std::thread, std::mutex or std::condition_variable.
set(CMAKE_C_COMPILER   ${VTL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VTL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${VTL_MINGW_TRIPLET}-windres)

# Cache folder shared with scripts/bootstrap.
if(NOT DEFINED VTL_CACHE_DIR)
  if(DEFINED ENV{VTL_CACHE_DIR} AND NOT "$ENV{VTL_CACHE_DIR}" STREQUAL "")
    set(_vtl_cache "$ENV{VTL_CACHE_DIR}")
  else()
    set(_vtl_cache "$ENV{HOME}/.cache/vantrel")
  endif()
  set(VTL_CACHE_DIR "${_vtl_cache}" CACHE PATH "Folder with third-party downloads and builds (scripts/bootstrap)")
  unset(_vtl_cache)
endif()
set(VTL_MINGW_PREFIX "${VTL_CACHE_DIR}/mingw-prefix")

# try_compile() projects re-read this file in a fresh cache: hand them the same folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VTL_CACHE_DIR)

# Look for headers, libraries and packages only in the Windows trees, for programs only on the host.
list(APPEND CMAKE_FIND_ROOT_PATH "${VTL_MINGW_SYSROOT}" "${VTL_MINGW_PREFIX}")
list(REMOVE_DUPLICATES CMAKE_FIND_ROOT_PATH)
list(APPEND CMAKE_PREFIX_PATH "${VTL_MINGW_PREFIX}")
list(REMOVE_DUPLICATES CMAKE_PREFIX_PATH)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must not report the Linux host's libraries.
set(ENV{PKG_CONFIG_LIBDIR} "${VTL_MINGW_PREFIX}/lib/pkgconfig:${VTL_MINGW_SYSROOT}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# The sysroot has both libz.a and the import library libz.dll.a; take the static one.
set(ZLIB_USE_STATIC_LIBS ON)

# Link libgcc, libstdc++ and winpthread statically: the programs need no MinGW DLLs next to them.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Run the Windows programs (tests, gtest_discover_tests, custom commands) under Wine.
get_filename_component(_vtl_wine_run "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_vtl_wine_run}" CACHE FILEPATH "Runs Windows programs on the build host")
unset(_vtl_wine_run)
