vl_add_gtest(win32_test_registry SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_registry.cpp LIBS vl_win32_base)
vl_add_gtest(win32_test_codepage SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_codepage.cpp LIBS vl_win32_base)
