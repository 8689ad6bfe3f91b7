# The device front end (object, device, resources, state blocks, loss and
# presentation) and the REF software rasterizer. hal.cmake adds the OpenGL
# backend to the same library.
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
  ${CMAKE_CURRENT_LIST_DIR}/ref_rasterizer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ref_pipeline.h
  ${CMAKE_CURRENT_LIST_DIR}/ref_vertices.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ref_triangle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ref_texture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ref_pixel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ref_spans.h
  ${CMAKE_CURRENT_LIST_DIR}/ref_span_scalar.cpp)
target_link_libraries(vl_d3d9 PRIVATE vl_platform_common Qt6::Widgets Qt6::Gui)

# The wider span loops, one file per instruction set, each compiled for its
# set alone; REF asks the processor which of them it may run.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  target_sources(vl_d3d9 PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ref_span_sse2.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ref_span_avx2.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ref_span_avx512.cpp)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/ref_span_avx2.cpp PROPERTIES COMPILE_OPTIONS -mavx2)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/ref_span_avx512.cpp PROPERTIES COMPILE_OPTIONS -mavx512f)
  target_compile_definitions(vl_d3d9 PRIVATE VL_REF_X86_SPANS)
endif()
