# GoogleTest for a cross build. Debian ships GoogleTest compiled for the build
# machine only, so when cross-compiling we compile it from Debian's source
# package (/usr/src/googletest) with the same toolchain as everything else,
# and offer the targets find_package(GTest) would: GTest::gtest,
# GTest::gtest_main, GTest::gmock, GTest::gmock_main.
include_guard(GLOBAL)

set(PENNARO_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
  "GoogleTest sources compiled for cross builds")
if(NOT EXISTS ${PENNARO_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${PENNARO_GOOGLETEST_SOURCE_DIR}; "
    "install Debian's googletest package (apt-get install googletest)")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_build_tests OFF CACHE BOOL "" FORCE)
set(gmock_build_tests OFF CACHE BOOL "" FORCE)
add_subdirectory(${PENNARO_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

foreach(_lib gtest gtest_main gmock gmock_main)
  if(TARGET ${_lib})
    # Third-party code: our own warnings-as-errors rule does not apply.
    target_compile_options(${_lib} PRIVATE -Wno-error)
    if(NOT TARGET GTest::${_lib})
      add_library(GTest::${_lib} ALIAS ${_lib})
    endif()
  endif()
endforeach()
set(GTest_FOUND TRUE)
set(GTEST_FOUND TRUE)
