# korvo_check_layers(): called once, at the end of the top-level
# CMakeLists.txt, when every target exists. Every target that compiles
# project code (libraries of any kind, executables, tests, plug-ins, the
# benchmarks and fuzzers when they are built) gets cmake/korvo-include-check
# in front of its compiler launchers. After each compile it reads what the
# compiler actually included and refuses
#   - a header of the tree from a folder that is neither one of the target's
#     own (the folders of its sources) nor one of a project library it links,
#     directly or through the libraries it links in turn;
#   - a private header (korvo_add_library's PRIVATE_HEADERS) of another
#     library. A test or fuzzer (a target under tests/ or fuzz/) may include
#     the private headers of the libraries it links directly: it tests them
#     from inside.
# Header-only libraries are checked through their users: their headers are
# compiled as part of the users' objects. Headers of the build folders and of
# node_modules are generated or third-party, never a layer.
#
# It also writes <build>/korvo-layer-links.txt, one line per project library
# (korvo_add_library): its name, its folders, and its direct links to other
# project libraries ("korvo_async sdk/async: korvo_host"), which the architecture test compares with the
# layer table of ARCHITECTURE.md.
include_guard(GLOBAL)

set(_korvo_include_check "${CMAKE_CURRENT_LIST_DIR}/korvo-include-check")

# Whether an absolute path is project code: under the source tree, outside
# the build folders and node_modules.
function(_korvo_is_project_path path out)
  set(_result FALSE)
  cmake_path(IS_PREFIX CMAKE_SOURCE_DIR "${path}" NORMALIZE _in_tree)
  if(_in_tree)
    set(_result TRUE)
    foreach(_excluded "${CMAKE_BINARY_DIR}" "${CMAKE_SOURCE_DIR}/build")
      cmake_path(IS_PREFIX _excluded "${path}" NORMALIZE _in_build)
      if(_in_build)
        set(_result FALSE)
      endif()
    endforeach()
    if(path MATCHES "/node_modules/")
      set(_result FALSE)
    endif()
  endif()
  set(${out} ${_result} PARENT_SCOPE)
endfunction()

# The folders (relative to the tree) of a target's project sources.
function(_korvo_own_folders target out)
  get_property(_known TARGET ${target} PROPERTY _KORVO_OWN_FOLDERS SET)
  if(_known)
    get_target_property(_folders ${target} _KORVO_OWN_FOLDERS)
    set(${out} "${_folders}" PARENT_SCOPE)
    return()
  endif()
  get_target_property(_sources ${target} SOURCES)
  get_target_property(_dir ${target} SOURCE_DIR)
  set(_folders "")
  foreach(_source IN LISTS _sources)
    if(_source MATCHES "^\\$<" OR _source STREQUAL "_sources-NOTFOUND")
      continue()
    endif()
    cmake_path(ABSOLUTE_PATH _source BASE_DIRECTORY "${_dir}" NORMALIZE OUTPUT_VARIABLE _path)
    _korvo_is_project_path("${_path}" _project)
    if(_project)
      cmake_path(GET _path PARENT_PATH _parent)
      file(RELATIVE_PATH _folder "${CMAKE_SOURCE_DIR}" "${_parent}")
      if(_folder STREQUAL "")
        set(_folder ".")
      endif()
      list(APPEND _folders "${_folder}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES _folders)
  set_property(TARGET ${target} PROPERTY _KORVO_OWN_FOLDERS "${_folders}")
  set(${out} "${_folders}" PARENT_SCOPE)
endfunction()

# The targets a link list names, aliases resolved; what is linked only (not
# used at compile time) or only once installed is left out.
function(_korvo_linked_targets items out)
  set(_targets "")
  foreach(_item IN LISTS items)
    if(_item MATCHES "^\\$<BUILD_INTERFACE:(.+)>$")
      set(_item "${CMAKE_MATCH_1}")
    elseif(_item MATCHES "^\\$<" OR _item MATCHES "^::@")
      continue()
    endif()
    if(NOT TARGET "${_item}")
      continue()
    endif()
    get_target_property(_aliased "${_item}" ALIASED_TARGET)
    if(_aliased)
      set(_item "${_aliased}")
    endif()
    list(APPEND _targets "${_item}")
  endforeach()
  list(REMOVE_DUPLICATES _targets)
  set(${out} "${_targets}" PARENT_SCOPE)
endfunction()

function(_korvo_direct_links target out)
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "INTERFACE_LIBRARY")
    get_target_property(_items ${target} INTERFACE_LINK_LIBRARIES)
  else()
    get_target_property(_items ${target} LINK_LIBRARIES)
  endif()
  if(NOT _items)
    set(_items "")
  endif()
  _korvo_linked_targets("${_items}" _targets)
  set(${out} "${_targets}" PARENT_SCOPE)
endfunction()

# Every target a target links, directly or through others, in link order.
function(_korvo_all_links target out)
  set(_seen "")
  _korvo_direct_links(${target} _queue)
  while(_queue)
    list(POP_FRONT _queue _next)
    if(_next IN_LIST _seen OR _next STREQUAL target)
      continue()
    endif()
    list(APPEND _seen ${_next})
    get_target_property(_imported ${_next} IMPORTED)
    if(_imported)
      continue()
    endif()
    get_target_property(_items ${_next} INTERFACE_LINK_LIBRARIES)
    if(_items)
      _korvo_linked_targets("${_items}" _more)
      list(APPEND _queue ${_more})
    endif()
  endwhile()
  set(${out} "${_seen}" PARENT_SCOPE)
endfunction()

function(_korvo_collect_targets dir out)
  get_property(_targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  get_property(_subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(_sub IN LISTS _subdirs)
    _korvo_collect_targets("${_sub}" _more)
    list(APPEND _targets ${_more})
  endforeach()
  set(${out} "${_targets}" PARENT_SCOPE)
endfunction()

# Shell words for the rules file: single-quoted.
function(_korvo_shell_quote text out)
  string(REPLACE "'" "'\\''" _text "${text}")
  set(${out} "'${_text}'" PARENT_SCOPE)
endfunction()

function(_korvo_write_include_rules target libraries)
  _korvo_own_folders(${target} _allowed)
  _korvo_all_links(${target} _links)
  foreach(_link IN LISTS _links)
    get_target_property(_imported ${_link} IMPORTED)
    if(NOT _imported)
      _korvo_own_folders(${_link} _folders)
      list(APPEND _allowed ${_folders})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES _allowed)

  # Private headers this target must not read: every library's but its own,
  # and for a test those of the libraries it links directly.
  set(_opened ${target})
  list(GET _allowed 0 _home)
  if(_home MATCHES "^(tests|fuzz)(/|$)")
    _korvo_direct_links(${target} _direct)
    list(APPEND _opened ${_direct})
  endif()
  set(_private "")
  foreach(_library IN LISTS libraries)
    if(_library IN_LIST _opened)
      continue()
    endif()
    get_target_property(_headers ${_library} KORVO_PRIVATE_HEADERS)
    foreach(_header IN LISTS _headers)
      if(_header)
        _korvo_shell_quote("${_header}" _key)
        string(APPEND _private " [${_key}]=${_library}")
      endif()
    endforeach()
  endforeach()

  file(REAL_PATH "${CMAKE_SOURCE_DIR}" _physical_root)
  file(REAL_PATH "${CMAKE_BINARY_DIR}" _physical_build)
  list(JOIN _allowed " " _allowed_words)
  list(JOIN _allowed ", " _allowed_list)
  _korvo_shell_quote("${target}" _target_q)
  _korvo_shell_quote("${_allowed_words}" _allowed_words_q)
  _korvo_shell_quote("${_allowed_list}" _allowed_list_q)
  _korvo_shell_quote("${CMAKE_SOURCE_DIR}" _root_q)
  _korvo_shell_quote("${_physical_root}" _physical_root_q)
  _korvo_shell_quote("${CMAKE_BINARY_DIR}" _build_q)
  _korvo_shell_quote("${_physical_build}" _physical_build_q)
  _korvo_shell_quote("${CMAKE_SOURCE_DIR}/build" _tree_build_q)
  set(_content "# Written by KorvoCheckLayers.cmake for cmake/korvo-include-check.
target=${_target_q}
roots=(${_root_q} ${_physical_root_q})
excluded=(${_build_q} ${_physical_build_q} ${_tree_build_q})
allowed=' '${_allowed_words_q}' '
allowed_list=${_allowed_list_q}
declare -A private=(${_private})
")
  # The file's name carries its content: when a target's links change, its
  # compile commands change with it and Ninja compiles (and checks) again.
  string(MD5 _hash "${_content}")
  string(SUBSTRING "${_hash}" 0 12 _hash)
  set(_rules "${CMAKE_BINARY_DIR}/korvo-include-rules/${target}-${_hash}.sh")
  if(NOT EXISTS "${_rules}")
    file(WRITE "${_rules}" "${_content}")
  endif()

  foreach(_language C CXX)
    get_target_property(_launcher ${target} ${_language}_COMPILER_LAUNCHER)
    if(NOT _launcher)
      set(_launcher "")
    endif()
    set_property(TARGET ${target} PROPERTY ${_language}_COMPILER_LAUNCHER
      "${_korvo_include_check}" "${_rules}" ${_launcher})
  endforeach()
endfunction()

function(korvo_check_layers)
  _korvo_collect_targets("${CMAKE_SOURCE_DIR}" _targets)
  set(_libraries "")
  foreach(_target IN LISTS _targets)
    get_target_property(_is_library ${_target} KORVO_LIBRARY)
    if(_is_library)
      list(APPEND _libraries ${_target})
    endif()
  endforeach()

  foreach(_target IN LISTS _targets)
    get_target_property(_type ${_target} TYPE)
    if(NOT _type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      continue()
    endif()
    _korvo_own_folders(${_target} _own)
    if(_own)
      _korvo_write_include_rules(${_target} "${_libraries}")
    endif()
  endforeach()

  set(_lines "")
  foreach(_library IN LISTS _libraries)
    _korvo_direct_links(${_library} _direct)
    set(_project_links "")
    foreach(_link IN LISTS _direct)
      if(_link IN_LIST _libraries)
        list(APPEND _project_links ${_link})
      endif()
    endforeach()
    list(JOIN _project_links " " _project_links)
    _korvo_own_folders(${_library} _folders)
    list(JOIN _folders " " _folders)
    string(APPEND _lines "${_library} ${_folders}: ${_project_links}\n")
  endforeach()
  file(CONFIGURE OUTPUT "${CMAKE_BINARY_DIR}/korvo-layer-links.txt" CONTENT "${_lines}" @ONLY)
endfunction()
