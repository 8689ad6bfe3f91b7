// For tests of programs built on the window layer: message boxes and modal
// dialogs are answered as soon as they show, so that a test never waits for
// a user. Plain C++ on the outside; the layer's GUI library inside.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct ShownMessageBox {
    std::string caption;
    std::string text;
    unsigned icon = 0;  // MB_ICONERROR, MB_ICONWARNING, ...
};

// From now on every message box is recorded in `log` and closed with its
// default button, and every dialog is closed with its button labelled
// `dialogButton` ("OK" or "Cancel") once it has settled. Null stops.
void AnswerModals(std::vector<ShownMessageBox>* log, const char* dialogButton = "Cancel");

// Dialogs answered since AnswerModals was called.
int AnsweredDialogs();

}  // namespace testsupport
