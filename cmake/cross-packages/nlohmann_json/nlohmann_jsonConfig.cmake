# nlohmann-json for cross builds, found through nlohmann_json_DIR (set by the
# MinGW toolchain file). The library is header-only, so Debian's copy in
# /usr/include/nlohmann serves any target; but the build machine's
# /usr/include itself must stay out of a cross build's include path (its C
# library headers would shadow MinGW's), so only the nlohmann folder is
# copied into the build tree and offered from there.
if(NOT TARGET nlohmann_json::nlohmann_json)
  set(PENNARO_NLOHMANN_INCLUDE_DIR /usr/include/nlohmann CACHE PATH
    "nlohmann-json headers used by cross builds (Debian's nlohmann-json3-dev)")
  if(NOT EXISTS ${PENNARO_NLOHMANN_INCLUDE_DIR}/json.hpp)
    set(nlohmann_json_FOUND FALSE)
    set(nlohmann_json_NOT_FOUND_MESSAGE
      "json.hpp not found in ${PENNARO_NLOHMANN_INCLUDE_DIR}; install Debian's nlohmann-json3-dev")
    return()
  endif()
  set(_pennaro_header_copy ${CMAKE_BINARY_DIR}/header-only-deps)
  file(COPY ${PENNARO_NLOHMANN_INCLUDE_DIR} DESTINATION ${_pennaro_header_copy})
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${_pennaro_header_copy})
endif()
set(nlohmann_json_FOUND TRUE)
