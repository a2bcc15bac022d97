# The generic value: BindingProperty and BindingResult, the arena behind a
# property tree and the process-wide page pool.
target_sources(korvo_binding PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/page_pool.h
  ${CMAKE_CURRENT_LIST_DIR}/page_pool.cpp
  ${CMAKE_CURRENT_LIST_DIR}/poison.h
  ${CMAKE_CURRENT_LIST_DIR}/property.h
  ${CMAKE_CURRENT_LIST_DIR}/property.cpp
  ${CMAKE_CURRENT_LIST_DIR}/property_arena.h
  ${CMAKE_CURRENT_LIST_DIR}/property_arena.cpp
  ${CMAKE_CURRENT_LIST_DIR}/work_stack.h)
