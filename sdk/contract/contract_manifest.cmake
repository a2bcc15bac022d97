# The released contract, as a list: every record's (and function table's)
# size and field offsets in the 32-bit build, and every code. Read from the
# header by its text (which records, fields and codes there are) and by the
# 32-bit cross compiler (what their sizes, offsets and values are: it only
# compiles, so this holds where 32-bit programs cannot run).
#
#   cmake -DMODE=check -DHEADER=<korvo_plugin.h> -DMANIFEST=<manifest>
#         -DCC=<i686-w64-mingw32-gcc> -DWORK=<scratch folder> -P contract_manifest.cmake
# fails, naming each change, unless the header only grew from the manifest:
# a record keeps every field at its offset and may gain fields at its end
# (its size may only grow), a code keeps its value; new records and codes are
# growth. The bounds of a code set (KORVO_..._LAST, _COUNT) are not codes.
#   ... -DMODE=write ... writes the manifest from the header instead
# (scripts/update-contract-manifest, when the contract grows on purpose).
cmake_minimum_required(VERSION 3.25)
foreach(_var MODE HEADER MANIFEST CC WORK)
  if(NOT DEFINED ${_var})
    message(FATAL_ERROR "contract_manifest.cmake: -D${_var}=... is required")
  endif()
endforeach()

# ---------------------------------------------------------------- the header
file(READ "${HEADER}" _text)
# Its own layout checks go: a changed header is to be judged here, with what
# moved, not stopped by the first check it breaks.
string(REGEX REPLACE "\n[ \t]*KORVO_ASSERT_(SIZE|OFFSET)\\([^)]*\\);" "\n" _compiled "${_text}")
file(MAKE_DIRECTORY "${WORK}")
file(WRITE "${WORK}/korvo_plugin.h" "${_compiled}")

# Without comments, and without "[" and "]", which would group list items.
set(_plain "")
set(_rest "${_text}")
while(TRUE)
  string(FIND "${_rest}" "/*" _open)
  if(_open EQUAL -1)
    string(APPEND _plain "${_rest}")
    break()
  endif()
  string(SUBSTRING "${_rest}" 0 ${_open} _before)
  string(APPEND _plain "${_before} ")
  string(SUBSTRING "${_rest}" ${_open} -1 _rest)
  string(FIND "${_rest}" "*/" _close)
  math(EXPR _close "${_close} + 2")
  string(SUBSTRING "${_rest}" ${_close} -1 _rest)
endwhile()
string(REGEX REPLACE "//[^\n]*" "" _plain "${_plain}")
string(REPLACE "[" "<" _plain "${_plain}")
string(REPLACE "]" ">" _plain "${_plain}")

# Items: "record <name>", "field <record> <name>", "code <name>"; each is
# one value of the generated C file, in the same order.
set(_items "")
set(_expressions "")
string(FIND "${_plain}" "#pragma pack(push, 1)" _from)
string(FIND "${_plain}" "#pragma pack(pop)" _to)
if(_from EQUAL -1 OR _to EQUAL -1)
  message(FATAL_ERROR "${HEADER}: no packed region (#pragma pack(push, 1) ... #pragma pack(pop))")
endif()
math(EXPR _length "${_to} - ${_from}")
string(SUBSTRING "${_plain}" ${_from} ${_length} _packed)
# A declaration ends at "|" here, so that each record is one list item.
string(REPLACE ";" "|" _packed "${_packed}")
string(REGEX MATCHALL "(struct|union)[ \t\n]+[A-Za-z0-9_]+[ \t\n]*{[^}]*}" _records "${_packed}")
foreach(_record IN LISTS _records)
  string(REGEX MATCH "^(struct|union)[ \t\n]+([A-Za-z0-9_]+)[ \t\n]*{([^}]*)}" _ "${_record}")
  set(_name "${CMAKE_MATCH_2}")
  set(_body "${CMAKE_MATCH_3}")
  list(APPEND _items "record ${_name}")
  list(APPEND _expressions "sizeof(${_name})")
  string(REPLACE "|" ";" _body "${_body}")
  foreach(_declaration IN LISTS _body)
    string(STRIP "${_declaration}" _declaration)
    if(_declaration STREQUAL "")
      continue()
    endif()
    if(_declaration MATCHES "\\([ \t\n]*KORVO_CDECL[ \t\n]*\\*[ \t\n]*([A-Za-z_][A-Za-z0-9_]*)[ \t\n]*\\)")
      set(_field "${CMAKE_MATCH_1}")
    elseif(_declaration MATCHES "([A-Za-z_][A-Za-z0-9_]*)$")
      set(_field "${CMAKE_MATCH_1}")
    else()
      message(FATAL_ERROR "${HEADER}: cannot read a field of ${_name}: ${_declaration}")
    endif()
    list(APPEND _items "field ${_name} ${_field}")
    list(APPEND _expressions "offsetof(${_name}, ${_field})")
  endforeach()
endforeach()

set(_codes "")
string(REGEX MATCHALL "enum[ \t\n]+[A-Za-z0-9_]+[ \t\n]*{[^}]*}" _enums "${_plain}")
foreach(_enum IN LISTS _enums)
  string(REGEX MATCH "{([^}]*)}" _ "${_enum}")
  string(REPLACE "," ";" _enumerators "${CMAKE_MATCH_1}")
  foreach(_enumerator IN LISTS _enumerators)
    if(_enumerator MATCHES "^[ \t\n]*(KORVO_[A-Z0-9_]+)")
      list(APPEND _codes "${CMAKE_MATCH_1}")
    endif()
  endforeach()
endforeach()
string(REGEX MATCHALL "#[ \t]*define[ \t]+KORVO_[A-Z0-9_]+[ \t]+\\(?-?[0-9][0-9xXa-fA-FuUlL]*\\)?[ \t]*\n" _macros "${_plain}")
foreach(_macro IN LISTS _macros)
  string(REGEX MATCH "define[ \t]+(KORVO_[A-Z0-9_]+)" _ "${_macro}")
  set(_code "${CMAKE_MATCH_1}")
  # The version grows with every release; the bounds of a set with the set.
  if(_code MATCHES "^KORVO_PLUGIN_API_" OR _code MATCHES "_(LAST|COUNT|FIRST|HIGHEST|LIMIT)$")
    continue()
  endif()
  list(APPEND _codes "${_code}")
endforeach()
foreach(_code IN LISTS _codes)
  list(APPEND _items "code ${_code}")
  list(APPEND _expressions "(${_code})")
endforeach()

# ------------------------------------------------------ the 32-bit figures
set(_source "/* Generated by contract_manifest.cmake. */\n#include \"korvo_plugin.h\"\n")
string(APPEND _source "const int korvo_contract_manifest[] = {\n")
foreach(_expression IN LISTS _expressions)
  string(APPEND _source "    (int)(${_expression}),\n")
endforeach()
string(APPEND _source "};\n")
file(WRITE "${WORK}/contract_manifest.c" "${_source}")
execute_process(COMMAND "${CC}" -x c -std=c11 -S -O0 -o "${WORK}/contract_manifest.s" "${WORK}/contract_manifest.c"
                RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "${HEADER} does not compile for the 32-bit target:\n${_out}")
endif()
file(STRINGS "${WORK}/contract_manifest.s" _figures REGEX "^[ \t]*\\.long[ \t]+-?[0-9]+")
list(LENGTH _figures _count)
list(LENGTH _items _expected)
if(NOT _count EQUAL _expected)
  message(FATAL_ERROR "the 32-bit compiler gave ${_count} figures for ${_expected} items (${WORK}/contract_manifest.s)")
endif()
set(_current "")
set(_index 0)
foreach(_item IN LISTS _items)
  list(GET _figures ${_index} _figure)
  string(REGEX MATCH "-?[0-9]+" _value "${_figure}")
  list(APPEND _current "${_item} ${_value}")
  math(EXPR _index "${_index} + 1")
endforeach()

# ------------------------------------------------------------------ write
if(MODE STREQUAL "write")
  string(REPLACE ";" "\n" _lines "${_current}")
  file(WRITE "${MANIFEST}" "# The released plug-in contract (sdk/contract/korvo_plugin.h) in the 32-bit
# build: each record's size (record <name> <bytes>), each field's offset
# (field <record> <name> <offset>) and each code (code <name> <value>).
# make test compares the header with this list (contract_manifest_test): a
# record may gain fields only at its end and a code may be added, never
# renumbered or removed. When the contract grows on purpose, rewrite it with
# scripts/update-contract-manifest and commit it with the header.
${_lines}
")
  return()
endif()

# ------------------------------------------------------------------ check
foreach(_entry IN LISTS _current)
  string(REPLACE " " ";" _words "${_entry}")
  list(POP_BACK _words _value)
  list(JOIN _words " " _key)
  string(MAKE_C_IDENTIFIER "${_key}" _id)
  set(_now_${_id} "${_value}")
endforeach()
file(STRINGS "${MANIFEST}" _released REGEX "^(record|field|code) ")
set(_breaks "")
foreach(_entry IN LISTS _released)
  string(REPLACE " " ";" _words "${_entry}")
  list(POP_BACK _words _was)
  list(JOIN _words " " _key)
  string(MAKE_C_IDENTIFIER "${_key}" _id)
  list(GET _words 0 _kind)
  list(GET _words 1 _name)
  if(_kind STREQUAL "field")
    list(GET _words 2 _field)
    set(_name "${_name}.${_field}")
  endif()
  if(NOT DEFINED _now_${_id})
    string(APPEND _breaks "  ${_name} was removed\n")
    continue()
  endif()
  set(_now "${_now_${_id}}")
  if(_kind STREQUAL "record" AND _now LESS _was)
    string(APPEND _breaks "  ${_name} shrank from ${_was} to ${_now} bytes\n")
  elseif(_kind STREQUAL "field" AND NOT _now EQUAL _was)
    string(APPEND _breaks "  ${_name} moved from offset ${_was} to ${_now}\n")
  elseif(_kind STREQUAL "code" AND NOT _now EQUAL _was)
    string(APPEND _breaks "  ${_name} was renumbered from ${_was} to ${_now}\n")
  endif()
endforeach()
if(_breaks)
  message(FATAL_ERROR "The contract no longer holds what was released (${MANIFEST}):\n${_breaks}"
    "A record may gain fields only at its end and a code may only be added. If this is a new "
    "major version of the contract, rewrite the list with scripts/update-contract-manifest.")
endif()
