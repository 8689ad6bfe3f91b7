# Tests of the window layer. The queue and dialog tests run on the offscreen
# platform; the window test wants a real X display (xvfb-run) and skips
# without one; the headless test takes the display away on purpose.
vl_add_gtest(win32_test_ui_messages SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ui_messages.cpp
  LIBS vl_win32 Qt6::Widgets ENV QT_QPA_PLATFORM=offscreen)
vl_add_gtest(win32_test_ui_dialog SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ui_dialog.cpp
  LIBS vl_win32 Qt6::Widgets ENV QT_QPA_PLATFORM=offscreen)
vl_add_gtest(win32_test_ui_window SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ui_window.cpp
  LIBS vl_win32 Qt6::Widgets SERIAL)
vl_add_gtest(win32_test_ui_headless SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ui_headless.cpp
  LIBS vl_win32 Qt6::Widgets ENV DISPLAY= WAYLAND_DISPLAY= QT_QPA_PLATFORM=)
vl_add_gtest(win32_test_ui_no_server SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ui_no_server.cpp
  LIBS vl_win32 Qt6::Widgets ENV DISPLAY=:987 WAYLAND_DISPLAY= QT_QPA_PLATFORM=)

# Answers message boxes and dialogs at once, for tests of the programs built
# on the layer; its users see no Qt.
add_library(vl_win32_test_modals STATIC ${CMAKE_CURRENT_LIST_DIR}/modal_answerer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/modal_answerer.h)
target_link_libraries(vl_win32_test_modals PUBLIC vl_win32 PRIVATE Qt6::Widgets)
