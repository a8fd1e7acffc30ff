# Checks the #include graph against the layering the code is built on:
#
#   host (the adapter) -> render -> raster -> pixels
#                  \         \        \
#                   `-> catalog, format: below them all
#
# Only src/host sees the host protocol (include/pennaro) — below it, the
# shared error codes (pennaro/errors.h) and nothing else; minihost/ is a
# host and includes nothing of the effect; the tool (cli/) may use the
# drawing format and the effect's tables but none of the adapter's private
# records. The tool's folders are layered the same way:
#
#   commands -> serve -> render -> scan -> drawings -> core -> minihost
#                          render -> images -> core
#   commands -> vector -> render, and the effect's src/render and src/raster
#
# (an arrow may skip levels). A cycle among the folders of src/ or of cli/
# fails the check too, and so does a source file of cli/ outside a folder.
#
#   cmake -DSOURCE_DIR=<repository root> -P cmake/check-layers.cmake
cmake_minimum_required(VERSION 3.22)

if(NOT SOURCE_DIR)
  get_filename_component(SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
endif()

set(layers catalog format pixels raster render host)
set(allowed_catalog errors)
set(allowed_format errors)
set(allowed_pixels errors)
set(allowed_raster pixels format errors)
set(allowed_render raster pixels format catalog errors)
set(allowed_host render raster pixels format catalog protocol errors)
set(allowed_minihost protocol minihost errors)
set(allowed_protocol protocol errors)

set(cli_layers cli_core cli_images cli_video cli_drawings cli_scan cli_render cli_vector cli_serve cli_frei0r
  cli_commands)
set(allowed_cli_core minihost protocol errors)
set(allowed_cli_images cli_core errors)
# Movies: frames in, through FFmpeg's libraries; the render writes them.
set(allowed_cli_video cli_images cli_core errors)
set(allowed_cli_drawings cli_core format catalog minihost protocol errors)
set(allowed_cli_scan cli_drawings cli_core format minihost protocol errors)
set(allowed_cli_render cli_video cli_scan cli_drawings cli_images cli_core format catalog minihost protocol errors)
# The open formats write the effect's own dabs: cli/vector alone may use
# the render and raster layers, so the stroke selection and the dab walk it
# exports are the effect's, never a second copy.
set(allowed_cli_vector cli_render cli_video cli_scan cli_drawings cli_images cli_core render raster pixels format
  catalog minihost protocol errors)
set(allowed_cli_serve cli_render cli_video cli_scan cli_drawings cli_images cli_core format catalog minihost protocol
  errors)
# The frei0r filter: a host of its own on the render session; nothing of the
# tool includes it.
set(allowed_cli_frei0r cli_render cli_video cli_scan cli_drawings cli_images cli_core format catalog minihost protocol
  errors)
set(allowed_cli_commands ${cli_layers} format catalog minihost protocol errors)

# The folder a quoted include names, or "" for the file's own neighbours.
function(include_target path out)
  string(REGEX MATCH "^[^/]+" head "${path}")
  if(path STREQUAL "pennaro/errors.h")
    set(${out} errors PARENT_SCOPE)
  elseif(head STREQUAL "pennaro")
    set(${out} protocol PARENT_SCOPE)
  elseif(head IN_LIST layers OR head STREQUAL "minihost")
    set(${out} ${head} PARENT_SCOPE)
  elseif(path MATCHES "^cli/([^/]+)/")
    set(${out} cli_${CMAKE_MATCH_1} PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR}
  ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/src/*.cpp
  ${SOURCE_DIR}/minihost/*.h ${SOURCE_DIR}/minihost/*.cpp
  ${SOURCE_DIR}/cli/*.h ${SOURCE_DIR}/cli/*.cpp
  ${SOURCE_DIR}/include/pennaro/*.h)

set(problems "")
set(edges "")
foreach(file IN LISTS files)
  if(file MATCHES "^src/([^/]+)/")
    set(from ${CMAKE_MATCH_1})
    if(NOT from IN_LIST layers)
      string(APPEND problems "  ${file}: src/${from} is not a known layer\n")
      continue()
    endif()
  elseif(file MATCHES "^src/")
    string(APPEND problems "  ${file}: sources belong in a layer folder of src/\n")
    continue()
  elseif(file MATCHES "^minihost/")
    set(from minihost)
  elseif(file MATCHES "^cli/([^/]+)/[^/]+$")
    set(from cli_${CMAKE_MATCH_1})
    if(NOT from IN_LIST cli_layers)
      string(APPEND problems "  ${file}: cli/${CMAKE_MATCH_1} is not a known folder of the tool\n")
      continue()
    endif()
  elseif(file MATCHES "^cli/")
    string(APPEND problems "  ${file}: sources of the tool belong in a subject folder of cli/\n")
    continue()
  else()
    set(from protocol)
  endif()
  file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" path "${line}")
    include_target("${path}" to)
    if(to STREQUAL "" OR to STREQUAL from)
      continue()
    endif()
    if(NOT to IN_LIST allowed_${from})
      string(APPEND problems "  ${file}: ${from} may not include \"${path}\" (${to})\n")
    endif()
    if((from IN_LIST layers AND to IN_LIST layers) OR (from IN_LIST cli_layers AND to IN_LIST cli_layers))
      list(APPEND edges "${from}>${to}")
    endif()
  endforeach()
endforeach()

# Cycles among the folders of src/ and of cli/, from the edges actually
# present: remove folders with no outgoing edge until none is left; what
# remains is cyclic.
list(REMOVE_DUPLICATES edges)
set(remaining ${layers} ${cli_layers})
set(changed TRUE)
while(changed)
  set(changed FALSE)
  foreach(layer IN LISTS remaining)
    set(outgoing FALSE)
    foreach(edge IN LISTS edges)
      string(REPLACE ">" ";" pair "${edge}")
      list(GET pair 0 a)
      list(GET pair 1 b)
      if(a STREQUAL layer AND b IN_LIST remaining)
        set(outgoing TRUE)
      endif()
    endforeach()
    if(NOT outgoing)
      list(REMOVE_ITEM remaining ${layer})
      set(changed TRUE)
    endif()
  endforeach()
endwhile()
if(remaining)
  string(APPEND problems "  a cycle runs through these folders: ${remaining}\n")
endif()

if(problems)
  message(FATAL_ERROR "include graph check failed:\n${problems}")
endif()
list(LENGTH files count)
message(STATUS "include graph check: ${count} files, layers hold")
