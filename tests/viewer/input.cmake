# Input mapping: scripted devices for the combination rules; the real layer
# with real key events and a virtual game controller for the whole road.
vl_add_gtest(viewer_test_input_mapper SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_input_mapper.cpp
  LIBS vl_viewer_input ENV QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=${CMAKE_CURRENT_BINARY_DIR}/input_mapper_config)
# Real key events need a real X server (xvfb-run); without one the test skips.
find_package(X11 REQUIRED)
find_package(SDL2 REQUIRED)
vl_add_gtest(viewer_test_input_devices SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_input_devices.cpp
  LIBS vl_viewer_input SDL2::SDL2 X11::X11 X11::Xtst SERIAL)
vl_add_gtest(viewer_test_viewer_input SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_viewer_input.cpp
  LIBS vl_viewer vl_win32 ENV QT_QPA_PLATFORM=offscreen SERIAL)
