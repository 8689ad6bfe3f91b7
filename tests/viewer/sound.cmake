# Sound playback of the viewer: call order against recording stand-ins, and
# the embedded bounce heard through SDL's disk audio driver.
vl_add_gtest(viewer_test_sound_player SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_sound_player.cpp LIBS vl_sound_player
  ENV QT_QPA_PLATFORM=offscreen)
vl_add_gtest(viewer_test_sound_repeat SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_sound_repeat.cpp LIBS vl_viewer
  ENV QT_QPA_PLATFORM=offscreen)
