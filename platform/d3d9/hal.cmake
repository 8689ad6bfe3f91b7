# HAL: the OpenGL 3.3 core backend of the 3-D device, in the same library as
# the front end, which offers the HAL device type when VL_HAVE_HAL is set.
target_sources(vl_d3d9 PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/driver_preload.h
  ${CMAKE_CURRENT_LIST_DIR}/hal_context.h
  ${CMAKE_CURRENT_LIST_DIR}/hal_context.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hal_shaders.h
  ${CMAKE_CURRENT_LIST_DIR}/hal_shaders.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hal_backend.h
  ${CMAKE_CURRENT_LIST_DIR}/hal_backend.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hal_backend_impl.h
  ${CMAKE_CURRENT_LIST_DIR}/hal_resources.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hal_present.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_hooks.h)
target_compile_definitions(vl_d3d9 PRIVATE VL_HAVE_HAL)
target_link_libraries(vl_d3d9 PRIVATE Qt6::OpenGL ${CMAKE_DL_LIBS})
