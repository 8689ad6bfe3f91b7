// GDI text needs the GUI library, as in the program after InitCommonControls.
#pragma once

#include <QGuiApplication>

inline void ensureGuiApplication() {
    static int argc = 1;
    static char name[] = "gdi_test";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    (void)app;
}
