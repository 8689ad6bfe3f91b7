# Input mapping: the action map, the InputMapper and the viewer's polling.
add_library(vl_viewer_input STATIC
  ${CMAKE_CURRENT_LIST_DIR}/input_mapper.h
  ${CMAKE_CURRENT_LIST_DIR}/input_mapper.cpp)
target_link_libraries(vl_viewer_input PUBLIC vl_dinput8)
target_link_libraries(vl_viewer PUBLIC vl_viewer_input)
