# Cross-compiling the effect for 64-bit Windows with Debian's MinGW-w64
# (package g++-mingw-w64-x86-64-posix). The posix flavour of the compilers
# gives std::thread and friends a working runtime; everything is linked
# statically so neither the DLL nor the test programs need MinGW's own DLLs.
# Test programs run under Wine 64-bit as the cross-compiling emulator.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PENNARO_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PENNARO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PENNARO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${PENNARO_MINGW_TRIPLET}-windres)

# Libraries, headers and packages come from the MinGW sysroot only: nothing
# from the build machine's /usr/include or /usr/lib may leak into the DLL.
set(CMAKE_FIND_ROOT_PATH /usr/${PENNARO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs: no libstdc++/libgcc/winpthread DLLs to find at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian installs the 64-bit Wine loader in Wine's library folder, not on
# PATH; ask the package where it is, and fall back to the usual place.
if(NOT PENNARO_WINE64)
  execute_process(COMMAND dpkg -L wine64
    OUTPUT_VARIABLE _pennaro_wine64_files ERROR_QUIET RESULT_VARIABLE _pennaro_dpkg_result)
  set(_pennaro_wine64 "")
  if(_pennaro_dpkg_result EQUAL 0)
    string(REPLACE "\n" ";" _pennaro_wine64_files "${_pennaro_wine64_files}")
    foreach(_file IN LISTS _pennaro_wine64_files)
      if(_file MATCHES "/lib/.*/wine64$" AND NOT IS_DIRECTORY "${_file}" AND EXISTS "${_file}")
        set(_pennaro_wine64 "${_file}")
        break()
      endif()
    endforeach()
  endif()
  if(NOT _pennaro_wine64 AND EXISTS /usr/lib/wine/wine64)
    set(_pennaro_wine64 /usr/lib/wine/wine64)
  endif()
  set(PENNARO_WINE64 "${_pennaro_wine64}" CACHE FILEPATH "The 64-bit Wine loader that runs the Windows test programs")
endif()
if(PENNARO_WINE64)
  # Through a wrapper that brings a Wine server up first (see the script).
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${PENNARO_WINE64})
endif()

# Listing the tests of a GoogleTest program means running it, under Wine:
# do that when the tests run (where the Wine server is up), not at build time.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# Header-only packages from the build machine, offered without its
# /usr/include (see the config file there).
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/cross-packages/nlohmann_json CACHE PATH
  "nlohmann-json package for cross builds")
