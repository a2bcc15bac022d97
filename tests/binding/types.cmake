# Type registry, type identity, conversions and builtin types.
korvo_add_test(binding_to_native_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/to_native_test.cpp DEPENDS korvo_binding)
korvo_add_test(binding_registry_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/registry_test.cpp DEPENDS korvo_binding)
korvo_add_test(binding_registry_concurrency_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/registry_concurrency_test.cpp DEPENDS korvo_binding CONCURRENCY)
korvo_add_test(binding_from_native_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/from_native_test.cpp DEPENDS korvo_binding)
korvo_add_test(binding_host_value_conversion_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/host_value_conversion_test.cpp DEPENDS korvo_binding)
korvo_add_test(binding_builtin_types_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/builtin_types_test.cpp DEPENDS korvo_binding)
korvo_add_test(binding_conversion_round_trip_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/conversion_round_trip_test.cpp DEPENDS korvo_binding)
korvo_add_test(binding_direct_host_value_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/direct_host_value_test.cpp DEPENDS korvo_binding)
