#include "tests/platform/win32/modal_answerer.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "platform/win32/windows.h"

namespace testsupport {

namespace {

std::vector<ShownMessageBox>* boxLog = nullptr;
QString dialogLabel;
QTimer* poller = nullptr;
QDialog* watchedDialog = nullptr;
int dialogPolls = 0;
int answeredDialogs = 0;

unsigned iconFlag(QMessageBox::Icon icon) {
    switch (icon) {
    case QMessageBox::Critical: return MB_ICONERROR;
    case QMessageBox::Warning: return MB_ICONWARNING;
    case QMessageBox::Information: return MB_ICONINFORMATION;
    case QMessageBox::Question: return MB_ICONQUESTION;
    default: return 0;
    }
}

void poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        if (!box->isVisible())
            return;
        if (boxLog)
            boxLog->push_back({box->windowTitle().toStdString(), box->text().toStdString(), iconFlag(box->icon())});
        QAbstractButton* button = box->defaultButton();
        if (!button && !box->buttons().isEmpty())
            button = box->buttons().first();
        if (button)
            button->click();
        return;
    }
    auto* dialog = qobject_cast<QDialog*>(modal);
    if (!dialog || !dialog->isVisible()) {
        watchedDialog = nullptr;
        return;
    }
    // The dialog fills its lists through posted messages; let them settle.
    if (dialog != watchedDialog) {
        watchedDialog = dialog;
        dialogPolls = 0;
    }
    if (++dialogPolls < 10)
        return;
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (button->text().remove('&') == dialogLabel) {
            ++answeredDialogs;
            watchedDialog = nullptr;
            button->click();
            return;
        }
    }
}

}  // namespace

void AnswerModals(std::vector<ShownMessageBox>* log, const char* dialogButton) {
    InitCommonControls();
    boxLog = log;
    dialogLabel = QString::fromLatin1(dialogButton ? dialogButton : "Cancel");
    answeredDialogs = 0;
    if (!log) {
        delete poller;
        poller = nullptr;
        return;
    }
    if (!poller && QCoreApplication::instance()) {
        poller = new QTimer;
        QObject::connect(poller, &QTimer::timeout, poll);
        poller->start(5);
    }
}

int AnsweredDialogs() { return answeredDialogs; }

}  // namespace testsupport
