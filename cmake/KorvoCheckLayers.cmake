# cmake -DTARGET=<name> -DLAYERS=<a|b|...> -DSOURCES=<f|g|...> -DROOT=<dir>
#       -DSTAMP=<file> -P KorvoCheckLayers.cmake
#
# Fails when one of SOURCES includes a header of the tree (a quoted include
# with a folder, "sdk/values/property.h") from a folder that is not one of
# LAYERS: the target's own folder and those of the libraries it links. The
# compiler alone would accept such an include, since every target sees the
# whole tree; this is what makes a wrong-way include fail the build. Headers
# next to the source ("property.h") and system headers are not checked.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "|" ";" _layers "${LAYERS}")
string(REPLACE "|" ";" _sources "${SOURCES}")
set(_errors "")
foreach(_source IN LISTS _sources)
  if(NOT EXISTS "${_source}")
    continue()
  endif()
  file(STRINGS "${_source}" _lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+/[^\"]+\"")
  foreach(_line IN LISTS _lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" _header "${_line}")
    get_filename_component(_folder "${_header}" DIRECTORY)
    # Only folders of the tree are layers; anything else is a library's.
    if(NOT IS_DIRECTORY "${ROOT}/${_folder}")
      continue()
    endif()
    if(NOT _folder IN_LIST _layers)
      file(RELATIVE_PATH _where "${ROOT}" "${_source}")
      string(APPEND _errors "  ${_where} includes ${_header}\n")
    endif()
  endforeach()
endforeach()
if(_errors)
  string(REPLACE ";" ", " _allowed "${_layers}")
  message(FATAL_ERROR "${TARGET} includes a layer it does not link:\n${_errors}"
    "${TARGET} may include only from: ${_allowed}.\n"
    "Link the layer (if it is below this one) or move the code.")
endif()
file(WRITE "${STAMP}" "${LAYERS}\n")
