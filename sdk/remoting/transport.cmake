# The transport: responses and content types, argument binding, the API
# description records, route records and handlers, registration and dispatch.
target_sources(korvo_remoting PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/transport_messages.h
  ${CMAKE_CURRENT_LIST_DIR}/response.h
  ${CMAKE_CURRENT_LIST_DIR}/response.cpp
  ${CMAKE_CURRENT_LIST_DIR}/route_record.h
  ${CMAKE_CURRENT_LIST_DIR}/route_handler.h
  ${CMAKE_CURRENT_LIST_DIR}/argument_binding.h
  ${CMAKE_CURRENT_LIST_DIR}/argument_binding.cpp
  ${CMAKE_CURRENT_LIST_DIR}/api_description.h
  ${CMAKE_CURRENT_LIST_DIR}/api_description.cpp
  ${CMAKE_CURRENT_LIST_DIR}/transport.h
  ${CMAKE_CURRENT_LIST_DIR}/transport.cpp)
target_link_libraries(korvo_remoting PUBLIC korvo_binding korvo_formats korvo_diagnostics korvo_host_records)
