# Type registry, type identity, conversions and builtin types.
korvo_add_test(binding_to_native_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/to_native_test.cpp DEPENDS korvo_binding)
