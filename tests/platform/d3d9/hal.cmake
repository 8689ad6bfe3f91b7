# HAL against REF on the reference scenes, with and without a window: needs
# an X display with GLX (scripts/test runs ctest under xvfb-run). Both test
# programs ask the backend directly, which exists only with VL_HAVE_HAL.
vl_add_gtest(d3d9_test_hal
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_hal.cpp ${CMAKE_CURRENT_LIST_DIR}/gui_test_main.cpp
  LIBS vl_d3d9_scenes Qt6::Widgets Qt6::OpenGL)
vl_add_gtest(d3d9_test_hal_present
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_hal_present.cpp ${CMAKE_CURRENT_LIST_DIR}/gui_test_main.cpp
  LIBS vl_d3d9_scenes Qt6::Widgets)
# No OpenGL at all: the test itself chooses Qt's offscreen platform and hides
# the X display from it.
vl_add_gtest(d3d9_test_hal_no_gl
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_hal_no_gl.cpp
  LIBS vl_d3d9 Qt6::Gui)
if(VL_BUILD_TESTS)
  target_compile_definitions(d3d9_test_hal PRIVATE VL_HAVE_HAL)
  target_compile_definitions(d3d9_test_hal_no_gl PRIVATE VL_HAVE_HAL)
endif()
vl_add_gtest(d3d9_test_driver_preload
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_driver_preload.cpp
  LIBS vl_d3d9 Qt6::Gui Qt6::OpenGL)
