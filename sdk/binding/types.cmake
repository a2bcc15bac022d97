# The type registry, type identity, conversions between values and native
# types (and host values), and the builtin help and asynchronous types.
target_sources(korvo_binding PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/type_identity.h
  ${CMAKE_CURRENT_LIST_DIR}/registry.h
  ${CMAKE_CURRENT_LIST_DIR}/registry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/conversion_messages.h
  ${CMAKE_CURRENT_LIST_DIR}/native_kinds.h
  ${CMAKE_CURRENT_LIST_DIR}/to_native.h
  ${CMAKE_CURRENT_LIST_DIR}/to_native.cpp
  ${CMAKE_CURRENT_LIST_DIR}/from_native.h
  ${CMAKE_CURRENT_LIST_DIR}/from_native.cpp
  ${CMAKE_CURRENT_LIST_DIR}/converter.h
  ${CMAKE_CURRENT_LIST_DIR}/record_builder.h
  ${CMAKE_CURRENT_LIST_DIR}/help_types.h
  ${CMAKE_CURRENT_LIST_DIR}/async_state.h
  ${CMAKE_CURRENT_LIST_DIR}/builtin_types.h
  ${CMAKE_CURRENT_LIST_DIR}/builtin_types.cpp
  ${CMAKE_CURRENT_LIST_DIR}/host_value_conversion.h
  ${CMAKE_CURRENT_LIST_DIR}/host_value_conversion.cpp)
target_link_libraries(korvo_binding PUBLIC korvo_diagnostics)
