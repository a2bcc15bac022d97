# Transport: dispatch through function records, responses, argument binding
# and the API description records.
korvo_add_test(transport_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/transport_test.cpp DEPENDS korvo_remoting korvo_host_support)
korvo_add_test(argument_binding_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/argument_binding_test.cpp DEPENDS korvo_remoting korvo_host_support)
korvo_add_test(response_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/response_test.cpp DEPENDS korvo_remoting korvo_host_support)
korvo_add_test(api_description_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/api_description_test.cpp DEPENDS korvo_remoting korvo_host_support)
korvo_add_test(transport_concurrency_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/transport_concurrency_test.cpp DEPENDS korvo_remoting korvo_host_support CONCURRENCY)
