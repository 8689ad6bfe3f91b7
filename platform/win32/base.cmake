# Registry, code pages, formatted text and clocks: standard library only.
add_library(vl_win32_base STATIC
  ${CMAKE_CURRENT_LIST_DIR}/winbase.h
  ${CMAKE_CURRENT_LIST_DIR}/winbase.cpp
  ${CMAKE_CURRENT_LIST_DIR}/codepage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/timing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/winreg.h
  ${CMAKE_CURRENT_LIST_DIR}/registry_internal.h
  ${CMAKE_CURRENT_LIST_DIR}/registry.cpp)
