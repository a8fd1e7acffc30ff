# Header-only libraries the Windows-relevant tests use on both builds:
#   pennaro_json       nlohmann-json
#   pennaro_stb_image  stb_image (PNG decoding, 8 and 16 bit)
# Natively they come from Debian as usual. In a cross build the build
# machine's /usr/include must stay out of the include path (its C library
# headers would shadow MinGW's), so only the nlohmann folder is copied into
# the build tree and stb's own folder is added, nothing else.
include_guard(GLOBAL)

set(PENNARO_NLOHMANN_INCLUDE_DIR /usr/include/nlohmann CACHE PATH "nlohmann-json headers (Debian's nlohmann-json3-dev)")
set(PENNARO_STB_INCLUDE_DIR /usr/include/stb CACHE PATH "stb headers (Debian's libstb-dev)")

add_library(pennaro_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  if(NOT EXISTS ${PENNARO_NLOHMANN_INCLUDE_DIR}/json.hpp)
    message(FATAL_ERROR "nlohmann/json.hpp not found in ${PENNARO_NLOHMANN_INCLUDE_DIR}; "
      "install Debian's nlohmann-json3-dev")
  endif()
  set(_pennaro_header_copy ${CMAKE_BINARY_DIR}/header-only-deps)
  file(COPY ${PENNARO_NLOHMANN_INCLUDE_DIR} DESTINATION ${_pennaro_header_copy})
  target_include_directories(pennaro_json SYSTEM INTERFACE ${_pennaro_header_copy})
else()
  find_package(nlohmann_json REQUIRED)
  target_link_libraries(pennaro_json INTERFACE nlohmann_json::nlohmann_json)
endif()

if(NOT EXISTS ${PENNARO_STB_INCLUDE_DIR}/stb_image.h)
  message(FATAL_ERROR "stb_image.h not found in ${PENNARO_STB_INCLUDE_DIR}; install Debian's libstb-dev")
endif()
add_library(pennaro_stb_image INTERFACE)
target_include_directories(pennaro_stb_image SYSTEM INTERFACE ${PENNARO_STB_INCLUDE_DIR})
