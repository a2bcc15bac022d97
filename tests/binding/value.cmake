# Tests of the generic value, its arena and the page pool.
korvo_add_test(property_test SOURCES property_test.cpp DEPENDS korvo_binding)
