# The reference scenes as a small library, so that the HAL tests can draw the
# same scenes and compare them with REF.
add_library(vl_d3d9_scenes STATIC
  ${CMAKE_CURRENT_LIST_DIR}/reference_scenes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reference_scenes.h)
target_link_libraries(vl_d3d9_scenes PUBLIC vl_d3d9 vl_math PRIVATE Qt6::Gui)

# Headless: no QApplication, no display.
vl_add_gtest(d3d9_test_ref_scenes
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ref_scenes.cpp
  LIBS vl_d3d9_scenes)
vl_add_gtest(d3d9_test_device
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_device.cpp ${CMAKE_CURRENT_LIST_DIR}/test_rasterizer.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_ref_spans.cpp ${CMAKE_CURRENT_LIST_DIR}/test_sizes.cpp
  LIBS vl_d3d9_scenes Qt6::Widgets)
# Windows, full screen and focus, on Qt's offscreen platform.
vl_add_gtest(d3d9_test_presentation
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_presentation.cpp
  LIBS vl_d3d9_scenes Qt6::Widgets
  ENV QT_QPA_PLATFORM=offscreen)
