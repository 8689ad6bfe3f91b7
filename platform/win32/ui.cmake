# Windows, the message queue, menus, accelerators, dialogs, message boxes,
# icons, cursors and the program's resources, on Qt Widgets. The resources
# are the program's: vl_resources fills the forms of resource_templates.h.
add_library(vl_win32 STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/gui.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/display_rule.h
  ${CMAKE_CURRENT_SOURCE_DIR}/display_rule.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/messages.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/window.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/menu.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/icons.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/paint.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dpi.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dialog.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/windows.h
  ${CMAKE_CURRENT_SOURCE_DIR}/commctrl.h
  ${CMAKE_CURRENT_SOURCE_DIR}/frame_window.h
  ${CMAKE_CURRENT_SOURCE_DIR}/ui_internal.h
  ${CMAKE_CURRENT_SOURCE_DIR}/window_access.h
  ${CMAKE_CURRENT_SOURCE_DIR}/program_arguments.h)
target_link_libraries(vl_win32 PUBLIC vl_resources PRIVATE vl_platform_common Qt6::Widgets)
if(TARGET vl_win32_base)
  target_link_libraries(vl_win32 PUBLIC vl_win32_base)
endif()
target_link_libraries(vl_win32_main PUBLIC vl_win32 vl_d3d9)
