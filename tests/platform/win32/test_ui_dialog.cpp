// The display settings dialog template driven headlessly, and message boxes.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <map>
#include <set>

#include "platform/win32/window_access.h"
#include "resources/resource.h"
#include "ui_test_support.h"

using namespace uitest;

namespace {

struct DialogScript {
    HWND dialog = nullptr;
    LPARAM initParam = 0;
    std::vector<std::pair<int, int>> commands;  // (id, notification)
    std::function<void(HWND)> onInit;
    std::function<void(HWND, int, int)> onCommand;
    std::function<void(HWND, WPARAM)> onStep;
    bool endOnOkCancel = true;
};
DialogScript* script = nullptr;

INT_PTR CALLBACK scriptedDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        script->dialog = dialog;
        script->initParam = lParam;
        if (script->onInit)
            script->onInit(dialog);
        return TRUE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        script->commands.emplace_back(id, HIWORD(wParam));
        if (script->endOnOkCancel && (id == IDOK || id == IDCANCEL))
            EndDialog(dialog, id);
        if (script->onCommand)
            script->onCommand(dialog, id, HIWORD(wParam));
        return TRUE;
    }
    case WM_APP:
        if (script->onStep)
            script->onStep(dialog, wParam);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR run(DialogScript& s, LPARAM param = 0) {
    script = &s;
    return DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_DISPLAY_SETTINGS), nullptr, scriptedDialog, param);
}

void add(HWND dialog, int id, const char* text, LPARAM data) {
    const LRESULT index = SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    SendDlgItemMessageA(dialog, id, CB_SETITEMDATA, index, data);
}

// What the settings dialog does to select: set, then post the notification.
void select(HWND dialog, int id, int index) {
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, index, 0);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

class Dialog : public ::testing::Test {
protected:
    void SetUp() override {
        InitCommonControls();
        ASSERT_TRUE(platform::guiAvailable());
    }
};

const int kTabOrder[] = {IDC_ADAPTER_COMBO,          IDC_DEVICE_COMBO,
                         IDC_WINDOWED_RADIO,         IDC_FULLSCREEN_RADIO,
                         IDC_ADAPTER_FORMAT_COMBO,   IDC_RESOLUTION_COMBO,
                         IDC_REFRESH_RATE_COMBO,     IDC_BACK_BUFFER_FORMAT_COMBO,
                         IDC_DEPTH_STENCIL_FORMAT_COMBO, IDC_MULTISAMPLE_COMBO,
                         IDC_MULTISAMPLE_QUALITY_COMBO, IDC_VERTEX_PROCESSING_COMBO,
                         IDC_PRESENT_INTERVAL_COMBO, IDOK,
                         IDCANCEL};

}  // namespace

TEST_F(Dialog, TemplateHasTheCaptionControlsLabelsAndTabOrder) {
    DialogScript s;
    s.onInit = [](HWND dialog) {
        char caption[64] = {};
        GetWindowTextA(dialog, caption, sizeof caption);
        EXPECT_STREQ(caption, "Direct3D Settings");
        std::map<QWidget*, int> ids;
        for (int id : kTabOrder) {
            HWND control = GetDlgItem(dialog, id);
            ASSERT_NE(control, nullptr) << id;
            EXPECT_EQ(GetDlgCtrlID(control), id);
            ids[platform::widgetFor(control)] = id;
        }
        EXPECT_EQ(GetDlgItem(dialog, 4242), nullptr);
        QWidget* top = platform::topLevelWidgetFor(dialog);
        std::set<std::string> labels, groups;
        for (QLabel* label : top->findChildren<QLabel*>())
            labels.insert(label->text().toStdString());
        for (QGroupBox* box : top->findChildren<QGroupBox*>())
            groups.insert(box->title().toStdString());
        EXPECT_EQ(labels, (std::set<std::string>{"Display &Adapter:", "Render &Device:", "Adapter F&ormat:",
                                                 "&Resolution:", "R&efresh Rate:", "&Back Buffer Format:",
                                                 "De&pth/Stencil Buffer Format:", "&Multisample Type:",
                                                 "Multisample &Quality:", "&Vertex Processing:",
                                                 "Present &Interval:"}));
        EXPECT_EQ(groups,
                  (std::set<std::string>{"Adapter and device", "Display mode settings", "Device settings"}));
        char text[32] = {};
        GetDlgItemTextA(dialog, IDC_WINDOWED_RADIO, text, sizeof text);
        EXPECT_STREQ(text, "&Windowed");
        GetDlgItemTextA(dialog, IDC_FULLSCREEN_RADIO, text, sizeof text);
        EXPECT_STREQ(text, "&Fullscreen");
        GetDlgItemTextA(dialog, IDOK, text, sizeof text);
        EXPECT_STREQ(text, "OK");
        GetDlgItemTextA(dialog, IDCANCEL, text, sizeof text);
        EXPECT_STREQ(text, "Cancel");
        for (QLabel* label : top->findChildren<QLabel*>()) {
            if (label->text() == "Display &Adapter:") {
                EXPECT_EQ(label->buddy(), platform::widgetFor(GetDlgItem(dialog, IDC_ADAPTER_COMBO)));
            }
        }

        std::vector<int> order;
        QWidget* w = platform::widgetFor(GetDlgItem(dialog, IDC_ADAPTER_COMBO));
        for (int guard = 0; guard < 200 && order.size() < std::size(kTabOrder); ++guard, w = w->nextInFocusChain())
            if (ids.count(w) && w->focusPolicy() & Qt::TabFocus)
                order.push_back(ids[w]);
        EXPECT_EQ(order, std::vector<int>(std::begin(kTabOrder), std::end(kTabOrder)));
        // Ending inside WM_INITDIALOG returns without ever showing the dialog.
        EndDialog(dialog, 7);
    };
    EXPECT_EQ(run(s, 1234), 7);
    EXPECT_EQ(s.initParam, 1234);
    EXPECT_FALSE(IsWindow(s.dialog)) << "the dialog and its controls go with DialogBoxParam";
}

TEST_F(Dialog, CombosKeepItemsDataAndTextWithoutSelectingByThemselves) {
    DialogScript s;
    s.onInit = [](HWND d) {
        const int id = IDC_ADAPTER_COMBO;
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_GETCOUNT, 0, 0), 0);
        add(d, id, "first", 0x1001);
        add(d, id, "Caf\xe9 \x80", 0x1002);  // 8-bit text comes back byte for byte
        add(d, id, "third", -5);
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_GETCOUNT, 0, 0), 3);
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_GETCURSEL, 0, 0), CB_ERR) << "adding must not select";
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_GETITEMDATA, 1, 0), 0x1002);
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_GETITEMDATA, 2, 0), -5);
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_GETITEMDATA, 3, 0), CB_ERR);
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_SETITEMDATA, 7, 1), CB_ERR);
        char text[32] = {};
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_GETLBTEXTLEN, 1, 0), 6);
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(text)), 6);
        EXPECT_STREQ(text, "Caf\xe9 \x80");
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_GETLBTEXT, 9, reinterpret_cast<LPARAM>(text)), CB_ERR);
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                      reinterpret_cast<LPARAM>("THIRD")),
                  2);
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_SETCURSEL, 2, 0), 2);
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_GETCURSEL, 0, 0), 2);
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_SETCURSEL, 5, 0), CB_ERR);
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_GETCURSEL, 0, 0), CB_ERR) << "a bad index clears the selection";
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_RESETCONTENT, 0, 0), TRUE);
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_GETCOUNT, 0, 0), 0);
        EXPECT_EQ(SendDlgItemMessageA(d, id, CB_GETCURSEL, 0, 0), CB_ERR);
        EndDialog(d, IDCANCEL);
    };
    EXPECT_EQ(run(s), IDCANCEL);
}

TEST_F(Dialog, SelectionsCascadeThroughTheQueueInOrder) {
    DialogScript s;
    std::vector<std::string> trace;
    s.onInit = [&](HWND d) {
        add(d, IDC_ADAPTER_COMBO, "adapter 0", 100);
        add(d, IDC_ADAPTER_COMBO, "adapter 1", 101);
        select(d, IDC_ADAPTER_COMBO, 1);
        trace.push_back("init done");
    };
    s.onCommand = [&](HWND d, int id, int code) {
        if (code != CBN_SELCHANGE)
            return;
        const LRESULT sel = SendDlgItemMessageA(d, id, CB_GETCURSEL, 0, 0);
        const LRESULT data = SendDlgItemMessageA(d, id, CB_GETITEMDATA, sel, 0);
        trace.push_back(std::to_string(id) + ":" + std::to_string(data));
        if (id == IDC_ADAPTER_COMBO) {
            SendDlgItemMessageA(d, IDC_DEVICE_COMBO, CB_RESETCONTENT, 0, 0);
            add(d, IDC_DEVICE_COMBO, "D3DDEVTYPE_HAL", data * 10 + 1);
            add(d, IDC_DEVICE_COMBO, "D3DDEVTYPE_REF", data * 10 + 2);
            select(d, IDC_DEVICE_COMBO, 1);
            trace.push_back("adapter handler done");
        } else if (id == IDC_DEVICE_COMBO) {
            SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
        }
    };
    EXPECT_EQ(run(s), IDOK);
    // Each notification runs after the handler that posted it has returned.
    EXPECT_EQ(trace, (std::vector<std::string>{"init done", "1002:101", "adapter handler done", "1000:1012"}));
}

TEST_F(Dialog, TheUsersChoiceInAListIsNotifiedToo) {
    DialogScript s;
    LRESULT chosen = -1;
    s.onInit = [](HWND d) {
        for (int i = 0; i < 3; ++i)
            add(d, IDC_RESOLUTION_COMBO, "mode", MAKELONG(640 + i, 480));
        SendDlgItemMessageA(d, IDC_RESOLUTION_COMBO, CB_SETCURSEL, 0, 0);
        PostMessageA(d, WM_APP, 0, 0);
    };
    s.onStep = [](HWND d, WPARAM) {
        QWidget* combo = platform::widgetFor(GetDlgItem(d, IDC_RESOLUTION_COMBO));
        combo->setFocus();
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        QApplication::sendEvent(combo, &down);
    };
    s.onCommand = [&](HWND d, int id, int code) {
        if (id == IDC_RESOLUTION_COMBO && code == CBN_SELCHANGE) {
            chosen = SendDlgItemMessageA(d, id, CB_GETITEMDATA, SendDlgItemMessageA(d, id, CB_GETCURSEL, 0, 0), 0);
            EndDialog(d, IDOK);
        }
    };
    EXPECT_EQ(run(s), IDOK);
    EXPECT_EQ(LOWORD(chosen), 641);
    EXPECT_EQ(HIWORD(chosen), 480);
}

TEST_F(Dialog, RadioButtonsAndTheEnabledState) {
    DialogScript s;
    s.onInit = [](HWND d) {
        EXPECT_TRUE(CheckRadioButton(d, IDC_WINDOWED_RADIO, IDC_FULLSCREEN_RADIO, IDC_FULLSCREEN_RADIO));
        EXPECT_EQ(IsDlgButtonChecked(d, IDC_FULLSCREEN_RADIO), static_cast<UINT>(BST_CHECKED));
        EXPECT_EQ(IsDlgButtonChecked(d, IDC_WINDOWED_RADIO), static_cast<UINT>(BST_UNCHECKED));
        CheckRadioButton(d, IDC_WINDOWED_RADIO, IDC_FULLSCREEN_RADIO, IDC_WINDOWED_RADIO);
        EXPECT_EQ(IsDlgButtonChecked(d, IDC_WINDOWED_RADIO), static_cast<UINT>(BST_CHECKED));
        EXPECT_EQ(IsDlgButtonChecked(d, IDC_FULLSCREEN_RADIO), static_cast<UINT>(BST_UNCHECKED));

        HWND format = GetDlgItem(d, IDC_ADAPTER_FORMAT_COMBO);
        EXPECT_FALSE(EnableWindow(format, FALSE)) << "it was enabled";
        EXPECT_FALSE(IsWindowEnabled(format));
        EXPECT_FALSE(platform::widgetFor(format)->isEnabled());
        EXPECT_TRUE(EnableWindow(format, TRUE)) << "it was disabled";
        EXPECT_TRUE(IsWindowEnabled(format));

        HWND fullscreen = GetDlgItem(d, IDC_FULLSCREEN_RADIO);
        EnableWindow(fullscreen, FALSE);
        PostMessageA(d, WM_APP, 0, 0);
    };
    s.onStep = [](HWND d, WPARAM step) {
        HWND fullscreen = GetDlgItem(d, IDC_FULLSCREEN_RADIO);
        if (step == 0) {
            // A disabled button cannot be clicked.
            SendMessageA(fullscreen, BM_CLICK, 0, 0);
            EXPECT_EQ(IsDlgButtonChecked(d, IDC_FULLSCREEN_RADIO), static_cast<UINT>(BST_UNCHECKED));
            EnableWindow(fullscreen, TRUE);
            static_cast<QAbstractButton*>(platform::widgetFor(fullscreen))->click();
            EXPECT_EQ(IsDlgButtonChecked(d, IDC_FULLSCREEN_RADIO), static_cast<UINT>(BST_CHECKED));
            EXPECT_EQ(IsDlgButtonChecked(d, IDC_WINDOWED_RADIO), static_cast<UINT>(BST_UNCHECKED));
            EndDialog(d, IDCANCEL);
        }
    };
    EXPECT_EQ(run(s), IDCANCEL);
    const std::vector<std::pair<int, int>> clicked{{IDC_FULLSCREEN_RADIO, BN_CLICKED}};
    EXPECT_EQ(s.commands, clicked);
}

TEST_F(Dialog, OkCancelEscapeAndTheCloseBoxGiveTheirResults) {
    struct Way {
        const char* name;
        std::function<void(HWND)> act;
        INT_PTR expected;
    } ways[] = {
        {"OK button", [](HWND d) { SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0); }, IDOK},
        {"Cancel button", [](HWND d) { SendDlgItemMessageA(d, IDCANCEL, BM_CLICK, 0, 0); }, IDCANCEL},
        {"Escape",
         [](HWND d) {
             QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QApplication::sendEvent(platform::topLevelWidgetFor(d), &esc);
         },
         IDCANCEL},
        {"Enter",
         [](HWND d) {
             QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
             QApplication::sendEvent(platform::topLevelWidgetFor(d), &enter);
         },
         IDOK},
        {"close box", [](HWND d) { platform::topLevelWidgetFor(d)->close(); }, IDCANCEL},
    };
    for (const Way& way : ways) {
        DialogScript s;
        s.onInit = [](HWND d) { PostMessageA(d, WM_APP, 0, 0); };
        s.onStep = [&](HWND d, WPARAM) {
            EXPECT_TRUE(platform::topLevelWidgetFor(d)->isVisible());
            way.act(d);
        };
        EXPECT_EQ(run(s), way.expected) << way.name;
        ASSERT_FALSE(s.commands.empty()) << way.name;
        EXPECT_EQ(s.commands.back().first, way.expected) << way.name;
    }
}

TEST_F(Dialog, MissingTemplateOrProcedureFails) {
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(999), nullptr, scriptedDialog, 0), -1);
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_DISPLAY_SETTINGS), nullptr, nullptr, 0), -1);
}

TEST_F(Dialog, MessageBoxShowsItsKindAndKeepsThePostedMessagesFlowing) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = recordingProc;
    wc.lpszClassName = "Box Owner";
    RegisterClassA(&wc);
    HWND owner = CreateWindowExA(0, "Box Owner", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    received().clear();
    PostMessageA(owner, WM_APP + 3, 0, 0);
    bool sawMessageWhileOpen = false;
    int polls = 0;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString text, title;
    std::function<void()> poll = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || (countOf(WM_APP + 3) == 0 && ++polls < 500)) {
            QTimer::singleShot(10, poll);
            return;
        }
        sawMessageWhileOpen = countOf(WM_APP + 3) == 1 && box->isVisible();
        icon = box->icon();
        text = box->text();
        title = box->windowTitle();
        box->button(QMessageBox::No)->click();
    };
    QTimer::singleShot(0, poll);
    EXPECT_EQ(MessageBoxA(owner, "Could not reset the Direct3D device.", "vibrolane", MB_YESNO | MB_ICONWARNING),
              IDNO);
    EXPECT_TRUE(sawMessageWhileOpen);
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(text.toStdString(), "Could not reset the Direct3D device.");
    EXPECT_EQ(title.toStdString(), "vibrolane");

    QTimer::singleShot(0, poll = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(10, poll);
            return;
        }
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(MessageBoxA(nullptr, "fatal", nullptr, MB_ICONERROR), IDOK);
    EXPECT_EQ(icon, QMessageBox::Critical);
    DestroyWindow(owner);
}
