# Tests of the generic value, its arena and the page pool.
korvo_add_test(property_test SOURCES property_test.cpp DEPENDS korvo_binding)
korvo_add_test(property_arena_test SOURCES property_arena_test.cpp DEPENDS korvo_binding)
korvo_add_test(page_pool_test SOURCES page_pool_test.cpp DEPENDS korvo_binding)
korvo_add_test(deep_property_test SOURCES deep_property_test.cpp DEPENDS korvo_binding)
korvo_add_test(binding_result_test SOURCES binding_result_test.cpp DEPENDS korvo_binding)
korvo_add_test(property_concurrency_test SOURCES property_concurrency_test.cpp DEPENDS korvo_binding CONCURRENCY)
