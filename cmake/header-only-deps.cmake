# stb_image (PNG decoding, 8 and 16 bit) as the target pennaro_stb_image, for
# code that must also build for Windows, where there is no libpng. Only stb's
# own folder is added to the include path, never /usr/include itself.
include_guard(GLOBAL)

set(PENNARO_STB_INCLUDE_DIR /usr/include/stb CACHE PATH "stb headers (Debian's libstb-dev)")
if(NOT EXISTS ${PENNARO_STB_INCLUDE_DIR}/stb_image.h)
  message(FATAL_ERROR "stb_image.h not found in ${PENNARO_STB_INCLUDE_DIR}; install Debian's libstb-dev")
endif()
add_library(pennaro_stb_image INTERFACE)
target_include_directories(pennaro_stb_image SYSTEM INTERFACE ${PENNARO_STB_INCLUDE_DIR})
