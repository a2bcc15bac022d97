# Checks that a built plug-in library carries its event-tracing start-up:
# the names it looks up in the system's tracing service, which are there
# only when the start-up was linked in. Runs on the build machine (never
# under Wine): -DLIBRARY=<path> -DKIND=<elf or pe>.
set(missing)
foreach(name EventRegister EventWrite EventUnregister)
  file(STRINGS "${LIBRARY}" found REGEX "^${name}$")
  if(NOT found)
    list(APPEND missing "${name}")
  endif()
endforeach()
if(KIND STREQUAL "pe")
  # The service's library is named in UTF-16 for LoadLibraryW.
  file(STRINGS "${LIBRARY}" found ENCODING UTF-16LE REGEX "^Advapi32\\.dll$")
  if(NOT found)
    list(APPEND missing "Advapi32.dll (UTF-16)")
  endif()
endif()
if(missing)
  message(FATAL_ERROR "${LIBRARY} lacks the event-tracing start-up: [${missing}] not found")
endif()
