# Sound playback of the viewer (target vl_sound_player).
add_library(vl_sound_player STATIC
  ${CMAKE_CURRENT_LIST_DIR}/sound_player.h
  ${CMAKE_CURRENT_LIST_DIR}/sound_player.cpp)
target_link_libraries(vl_sound_player PUBLIC vl_dmusic vl_win32)
