# The build's identity, from git: the build number N of the file version
# 18.0.0.N (the count of commits behind HEAD, so it grows with every commit on
# main) and the commit.
#
# Without git (a source archive) or in a shallow clone, whose commit count is
# too small, there is no number to trust: N is 0 and the commit "unknown",
# unless KORVO_BUILD_NUMBER and KORVO_COMMIT are given. A release build
# (KORVO_DIST) refuses to guess.
set(KORVO_BUILD_NUMBER "" CACHE STRING "Fourth part of the file version; empty: from git")
set(KORVO_COMMIT "" CACHE STRING "Commit the build comes from; empty: from git")

set(KORVO_API_VERSION "${PROJECT_VERSION}")
set(_korvo_count "")
set(_korvo_commit "")
set(_korvo_dirty "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${PROJECT_SOURCE_DIR}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" rev-parse --is-shallow-repository
    WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}" OUTPUT_VARIABLE _korvo_shallow
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE _korvo_rc)
  if(_korvo_rc EQUAL 0 AND _korvo_shallow STREQUAL "false")
    execute_process(COMMAND "${GIT_EXECUTABLE}" rev-list --count HEAD
      WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}" OUTPUT_VARIABLE _korvo_count
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND "${GIT_EXECUTABLE}" rev-parse HEAD
      WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}" OUTPUT_VARIABLE _korvo_commit
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # Tracked files changed since the commit: the build is not that commit.
    execute_process(COMMAND "${GIT_EXECUTABLE}" status --porcelain --untracked-files=no
      WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}" OUTPUT_VARIABLE _korvo_status
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT _korvo_status STREQUAL "")
      set(_korvo_dirty "-dirty")
    endif()
    # A new commit or checkout configures again, so N follows HEAD.
    execute_process(COMMAND "${GIT_EXECUTABLE}" rev-parse --path-format=absolute --git-path logs/HEAD
      WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}" OUTPUT_VARIABLE _korvo_reflog
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(_korvo_reflog AND EXISTS "${_korvo_reflog}")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_korvo_reflog}")
    endif()
  elseif(_korvo_rc EQUAL 0)
    message(WARNING "A shallow clone cannot count its commits: the build number is unknown")
  endif()
endif()

if(NOT KORVO_BUILD_NUMBER STREQUAL "")
  set(_korvo_count "${KORVO_BUILD_NUMBER}")
endif()
if(NOT KORVO_COMMIT STREQUAL "")
  set(_korvo_commit "${KORVO_COMMIT}")
  set(_korvo_dirty "")
endif()
if(_korvo_count STREQUAL "" OR _korvo_commit STREQUAL "")
  if(KORVO_DIST)
    message(FATAL_ERROR "A release build needs its build number and commit: build from a full git clone, "
      "or give -DKORVO_BUILD_NUMBER=N -DKORVO_COMMIT=<commit>")
  endif()
  set(_korvo_count 0)
  set(_korvo_commit unknown)
endif()
if(NOT _korvo_count MATCHES "^[0-9]+$" OR _korvo_count GREATER 65535)
  message(FATAL_ERROR "KORVO_BUILD_NUMBER must be a number from 0 to 65535 (a file version part is 16 bits), not '${_korvo_count}'")
endif()

set(KORVO_FILE_VERSION "${PROJECT_VERSION}.${_korvo_count}")
set(KORVO_FILE_VERSION_BUILD "${_korvo_count}")
set(KORVO_SOURCE_COMMIT "${_korvo_commit}${_korvo_dirty}")
message(STATUS "Build ${KORVO_FILE_VERSION} from commit ${KORVO_SOURCE_COMMIT}")
