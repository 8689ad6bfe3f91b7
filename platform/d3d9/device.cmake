# The device front end (object, device, resources, state blocks, loss and
# presentation) and the REF software rasterizer. hal.cmake adds the OpenGL
# backend to the same library when it is there.
add_library(vl_d3d9 STATIC
  ${CMAKE_CURRENT_LIST_DIR}/d3d9.h
  ${CMAKE_CURRENT_LIST_DIR}/backend.h
  ${CMAKE_CURRENT_LIST_DIR}/backend.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device.h
  ${CMAKE_CURRENT_LIST_DIR}/device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_presentation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/object.cpp
  ${CMAKE_CURRENT_LIST_DIR}/resources.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ref_rasterizer.h
  ${CMAKE_CURRENT_LIST_DIR}/ref_rasterizer.cpp)
target_link_libraries(vl_d3d9 PRIVATE vl_platform_common Qt6::Widgets Qt6::Gui)
