// Modal dialogs built from dialog templates, their controls (group boxes,
// labels, drop-down lists, radio and push buttons), and message boxes.
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <algorithm>
#include <cstdio>

#include "platform/win32/ui_internal.h"
#include "platform/win32/window_access.h"

namespace platform::win32 {

class DialogWindow : public QDialog {
public:
    DialogWindow(HWND handle, QWidget* parent) : QDialog(parent), handle_(handle) {}

    // Enter, Esc and the close box become the commands the dialog
    // procedure decides on; the dialog ends only through EndDialog.
    void accept() override { command(IDOK); }
    void reject() override { command(IDCANCEL); }

protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        sendFromEvent(handle_, WM_CLOSE, 0, 0);
    }

private:
    void command(int id) {
        sendFromEvent(handle_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(GetDlgItem(handle_, id)));
    }

    HWND handle_;
};

namespace {

constexpr int kDataRole = Qt::UserRole;
constexpr int kBytesRole = Qt::UserRole + 1;

struct ButtonGroupInfo {
    int group = 0;
    bool autoRadio = false;
};

std::map<HWND, ButtonGroupInfo>& radioGroups() {
    static std::map<HWND, ButtonGroupInfo> groups;
    return groups;
}

LRESULT copyText(const std::string& text, WPARAM size, LPARAM buffer) {
    char* out = reinterpret_cast<char*>(buffer);
    if (!out || size == 0)
        return 0;
    const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<LRESULT>(n);
}

std::string itemBytes(QComboBox* combo, int index) {
    const QByteArray bytes = combo->itemData(index, kBytesRole).toByteArray();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

LRESULT comboMessage(QComboBox* combo, UINT message, WPARAM wParam, LPARAM lParam) {
    const int count = combo->count();
    const int index = static_cast<int>(static_cast<INT_PTR>(wParam));
    auto insert = [combo](int at, LPCSTR text) -> LRESULT {
        const int selected = combo->currentIndex();
        const std::string bytes = text ? text : "";
        combo->insertItem(at, fromAnsi(bytes.c_str(), static_cast<int>(bytes.size())));
        combo->setItemData(at, QVariant::fromValue<qlonglong>(0), kDataRole);
        combo->setItemData(at, QByteArray(bytes.data(), static_cast<int>(bytes.size())), kBytesRole);
        // Adding to a list never selects, unlike the widget's own habit.
        if (selected < 0)
            combo->setCurrentIndex(-1);
        return at;
    };
    switch (message) {
    case CB_ADDSTRING:
        return insert(count, reinterpret_cast<LPCSTR>(lParam));
    case CB_INSERTSTRING:
        if (index > count)
            return CB_ERR;
        return insert(index < 0 ? count : index, reinterpret_cast<LPCSTR>(lParam));
    case CB_DELETESTRING:
        if (index < 0 || index >= count)
            return CB_ERR;
        combo->removeItem(index);
        return combo->count();
    case CB_GETCOUNT:
        return count;
    case CB_RESETCONTENT:
        combo->clear();
        return TRUE;
    case CB_SETCURSEL:
        if (index < 0 || index >= count) {
            combo->setCurrentIndex(-1);
            return CB_ERR;
        }
        combo->setCurrentIndex(index);
        return index;
    case CB_GETCURSEL:
        return combo->currentIndex() < 0 ? CB_ERR : combo->currentIndex();
    case CB_SETITEMDATA:
        if (index < 0 || index >= count)
            return CB_ERR;
        combo->setItemData(index, QVariant::fromValue<qlonglong>(lParam), kDataRole);
        return TRUE;
    case CB_GETITEMDATA:
        if (index < 0 || index >= count)
            return CB_ERR;
        return static_cast<LRESULT>(combo->itemData(index, kDataRole).toLongLong());
    case CB_GETLBTEXTLEN:
        if (index < 0 || index >= count)
            return CB_ERR;
        return static_cast<LRESULT>(itemBytes(combo, index).size());
    case CB_GETLBTEXT: {
        if (index < 0 || index >= count || !lParam)
            return CB_ERR;
        const std::string text = itemBytes(combo, index);
        std::memcpy(reinterpret_cast<char*>(lParam), text.data(), text.size());
        reinterpret_cast<char*>(lParam)[text.size()] = '\0';
        return static_cast<LRESULT>(text.size());
    }
    case CB_FINDSTRINGEXACT: {
        const QString wanted = fromAnsi(reinterpret_cast<LPCSTR>(lParam));
        for (int step = 1; step <= count; ++step) {
            const int i = ((index < 0 ? -1 : index) + step) % count;
            if (combo->itemText(i).compare(wanted, Qt::CaseInsensitive) == 0)
                return i;
        }
        return CB_ERR;
    }
    default:
        return 0;
    }
}

LRESULT CALLBACK controlProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = findWindow(window);
    if (!w || !w->widget)
        return 0;
    QWidget* widget = w->widget;
    if (message == WM_SETTEXT || message == WM_GETTEXT) {
        if (message == WM_SETTEXT) {
            const QString text = fromAnsi(reinterpret_cast<LPCSTR>(lParam));
            if (auto* b = qobject_cast<QAbstractButton*>(widget)) b->setText(text);
            else if (auto* l = qobject_cast<QLabel*>(widget)) l->setText(text);
            else if (auto* g = qobject_cast<QGroupBox*>(widget)) g->setTitle(text);
            return TRUE;
        }
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(widget)) text = b->text();
        else if (auto* l = qobject_cast<QLabel*>(widget)) text = l->text();
        else if (auto* g = qobject_cast<QGroupBox*>(widget)) text = g->title();
        else if (auto* c = qobject_cast<QComboBox*>(widget)) text = c->currentText();
        return copyText(toAnsi(text), wParam, lParam);
    }
    switch (w->control) {
    case ControlKind::Combo:
        return comboMessage(static_cast<QComboBox*>(widget), message, wParam, lParam);
    case ControlKind::Radio:
    case ControlKind::Button: {
        auto* button = static_cast<QAbstractButton*>(widget);
        switch (message) {
        case BM_GETCHECK:
            return button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
        case BM_SETCHECK:
            button->setChecked(wParam == BST_CHECKED);
            return 0;
        case BM_CLICK:
            button->click();
            return 0;
        default:
            return 0;
        }
    }
    default:
        return 0;
    }
}

LRESULT CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = findWindow(window);
    if (!w)
        return 0;
    if (w->dialogProcedure) {
        const INT_PTR handled = w->dialogProcedure(window, message, wParam, lParam);
        if (handled) {
            if (message == WM_INITDIALOG)
                return handled;
            return findWindow(window) ? findWindow(window)->dialogResultValue : 0;
        }
        if (message == WM_INITDIALOG)
            return 0;
    }
    return DefDlgProcA(window, message, wParam, lParam);
}

HWND addControl(HWND dialog, QWidget* widget, ControlKind kind, int id, DWORD style) {
    auto record = std::make_unique<Window>();
    record->kind = WindowKind::Control;
    record->control = kind;
    record->procedure = controlProcedure;
    record->id = id;
    record->style = style;
    record->parent = dialog;
    record->widget = widget;
    const HWND handle = addWindow(std::move(record));
    findWindow(dialog)->children.push_back(handle);
    return handle;
}

QWidget* buildControl(const DialogItemTemplate& item, QDialog* parent, ControlKind* kind) {
    const QString text = fromAnsi(item.text ? item.text : "");
    const std::string cls = QString::fromLatin1(item.className).toUpper().toStdString();
    if (cls == "STATIC") {
        *kind = ControlKind::Static;
        auto* label = new QLabel(text, parent);
        if ((item.style & 0x3) == SS_CENTER)
            label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        else if ((item.style & 0x3) == SS_RIGHT)
            label->setAlignment(Qt::AlignRight | Qt::AlignTop);
        return label;
    }
    if (cls == "COMBOBOX") {
        *kind = ControlKind::Combo;
        auto* combo = new QComboBox(parent);
        combo->setEditable(false);
        combo->setMaxVisibleItems(12);
        return combo;
    }
    if (cls != "BUTTON")
        return nullptr;
    switch (item.style & BS_TYPEMASK) {
    case BS_GROUPBOX: {
        *kind = ControlKind::GroupBox;
        auto* box = new QGroupBox(text, parent);
        box->setFocusPolicy(Qt::NoFocus);
        return box;
    }
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON: {
        *kind = ControlKind::Radio;
        auto* radio = new QRadioButton(text, parent);
        // Groups follow WS_GROUP, not the widget's "one per parent".
        radio->setAutoExclusive(false);
        return radio;
    }
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX: {
        *kind = ControlKind::Button;
        auto* check = new QCheckBox(text, parent);
        return check;
    }
    default: {
        *kind = ControlKind::Button;
        auto* button = new QPushButton(text, parent);
        button->setAutoDefault(false);
        button->setDefault((item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
        return button;
    }
    }
}

void connectControl(HWND dialog, HWND control, Window& record, const DialogItemTemplate& item) {
    const int id = item.id;
    QWidget* widget = record.widget;
    if (record.control == ControlKind::Combo) {
        // Posted, so that the list's handler runs after the widget has
        // finished with the user's choice.
        QObject::connect(static_cast<QComboBox*>(widget), &QComboBox::activated, widget, [dialog, control, id](int) {
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(control));
        });
    } else if (record.control == ControlKind::Radio || record.control == ControlKind::Button) {
        const bool autoRadio = (item.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON;
        const bool autoCheck = (item.style & BS_TYPEMASK) == BS_AUTOCHECKBOX;
        auto* button = static_cast<QAbstractButton*>(widget);
        if (record.control == ControlKind::Radio || autoCheck)
            button->setCheckable(true);
        if (record.control == ControlKind::Radio && !autoRadio) {
            // A plain radio button changes only when the program says so.
            QObject::connect(button, &QAbstractButton::clicked, button, [button](bool checked) {
                QSignalBlocker block(button);
                button->setChecked(!checked);
            });
        }
        QObject::connect(button, &QAbstractButton::clicked, widget, [dialog, control, id, autoRadio] {
            if (autoRadio) {
                const ButtonGroupInfo mine = radioGroups()[control];
                Window* d = findWindow(dialog);
                if (d)
                    for (HWND other : d->children)
                        if (other != control && radioGroups().count(other) &&
                            radioGroups()[other].group == mine.group)
                            SendMessageA(other, BM_SETCHECK, BST_UNCHECKED, 0);
                SendMessageA(control, BM_SETCHECK, BST_CHECKED, 0);
            }
            sendFromEvent(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
        });
    }
}

void destroyDialog(HWND dialog) {
    Window* w = findWindow(dialog);
    if (!w)
        return;
    for (HWND child : w->children)
        radioGroups().erase(child);
    DestroyWindow(dialog);
}

int firstButtonResult(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_YESNOCANCEL: case MB_YESNO: return IDYES;
    case MB_RETRYCANCEL: return IDRETRY;
    default: return IDOK;
    }
}

}  // namespace
}  // namespace platform::win32

using namespace platform::win32;

LRESULT WINAPI DefDlgProcA(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    }
    return 0;
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC procedure,
                               LPARAM initParam) {
    const ResourceEntry* entry = findResource(instance, templateName, RT_DIALOG);
    if (!entry || !procedure || !ensureGui())
        return -1;
    const auto& t = *static_cast<const DialogTemplate*>(entry->data);

    auto record = std::make_unique<Window>();
    record->kind = WindowKind::Dialog;
    record->procedure = dialogProcedure;
    record->dialogProcedure = procedure;
    record->style = t.style;
    record->parent = parent;
    const HWND handle = addWindow(std::move(record));
    Window* w = findWindow(handle);

    QWidget* owner = platform::topLevelWidgetFor(parent);
    auto* dialog = new DialogWindow(handle, owner);
    w->widget = dialog;
    w->dialog = dialog;
    dialog->setWindowTitle(fromAnsi(t.caption ? t.caption : ""));
    dialog->setWindowModality(Qt::ApplicationModal);
    QFont font = QApplication::font();
    if (t.pointSize > 0)
        font.setPointSize(t.pointSize);
    dialog->setFont(font);

    // Dialog units: a quarter of the font's average character width across,
    // an eighth of its height down.
    const QFontMetrics metrics(font);
    const int baseX = std::max(1, metrics.averageCharWidth());
    const int baseY = std::max(1, metrics.height());
    auto px = [baseX](int x) { return (x * baseX + 2) / 4; };
    auto py = [baseY](int y) { return (y * baseY + 4) / 8; };
    dialog->setFixedSize(px(t.cx), py(t.cy));

    std::vector<QWidget*> focusOrder;
    std::vector<std::pair<QLabel*, std::size_t>> labels;
    HWND firstTabStop = nullptr;
    int group = 0;
    for (int i = 0; i < t.itemCount; ++i) {
        const DialogItemTemplate& item = t.items[i];
        ControlKind kind = ControlKind::None;
        QWidget* widget = buildControl(item, dialog, &kind);
        if (!widget)
            continue;
        int height = py(item.cy);
        if (kind == ControlKind::Combo)
            height = std::max(widget->sizeHint().height(), py(12));
        widget->setGeometry(px(item.x), py(item.y), px(item.cx), height);
        if (kind == ControlKind::Static)
            widget->setMinimumHeight(std::max(widget->minimumHeight(), height));
        if (item.style & WS_GROUP)
            ++group;
        const HWND control = addControl(handle, widget, kind, item.id, item.style);
        if (kind == ControlKind::Radio)
            radioGroups()[control] = ButtonGroupInfo{group, (item.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON};
        connectControl(handle, control, *findWindow(control), item);
        if (kind == ControlKind::GroupBox)
            widget->lower();
        if (kind == ControlKind::Static) {
            labels.emplace_back(static_cast<QLabel*>(widget), focusOrder.size());
        } else if (kind != ControlKind::GroupBox) {
            focusOrder.push_back(widget);
            if (!firstTabStop && (item.style & WS_TABSTOP))
                firstTabStop = control;
        }
    }
    // A label's mnemonic moves to the control after it.
    for (auto& [label, next] : labels)
        if (next < focusOrder.size())
            label->setBuddy(focusOrder[next]);
    for (std::size_t i = 1; i < focusOrder.size(); ++i)
        QWidget::setTabOrder(focusOrder[i - 1], focusOrder[i]);

    if ((t.style & DS_CENTER) || owner) {
        const QRect area = owner ? owner->frameGeometry()
                                 : (QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->geometry()
                                                                     : QRect(0, 0, 1024, 768));
        QPoint corner = area.center() - QPoint(dialog->width() / 2, dialog->height() / 2);
        // Centred on a small owner, a tall dialog would start above the
        // screen, its first lists out of reach where no window manager
        // moves it back.
        if (QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen()) {
            const QRect room = screen->availableGeometry();
            corner.setX(std::max(room.left(), std::min(corner.x(), room.right() + 1 - dialog->width())));
            corner.setY(std::max(room.top(), std::min(corner.y(), room.bottom() + 1 - dialog->height())));
        }
        dialog->move(corner);
    }

    if (SendMessageA(handle, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop), initParam) && firstTabStop)
        if (Window* first = findWindow(firstTabStop))
            first->widget->setFocus();

    w = findWindow(handle);
    if (w && !w->dialogEnded) {
        dialog->show();
        runModalLoop([handle] {
            Window* d = findWindow(handle);
            return !d || d->dialogEnded;
        });
    }
    w = findWindow(handle);
    const INT_PTR result = w && w->dialogEnded ? w->dialogResult : -1;
    destroyDialog(handle);
    return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    Window* w = findWindow(dialog);
    if (!w || w->kind != WindowKind::Dialog)
        return FALSE;
    w->dialogEnded = true;
    w->dialogResult = result;
    if (w->widget)
        w->widget->hide();
    wakeMessageLoop();
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    Window* w = findWindow(dialog);
    if (!w)
        return nullptr;
    for (HWND child : w->children)
        if (Window* c = findWindow(child); c && c->id == id)
            return child;
    return nullptr;
}

int WINAPI GetDlgCtrlID(HWND control) {
    Window* w = findWindow(control);
    return w && w->kind == WindowKind::Control ? w->id : 0;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND control = GetDlgItem(dialog, id);
    return control ? SendMessageA(control, message, wParam, lParam) : 0;
}

BOOL WINAPI CheckRadioButton(HWND dialog, int firstId, int lastId, int checkId) {
    if (!findWindow(dialog) || firstId > lastId)
        return FALSE;
    for (int id = firstId; id <= lastId; ++id)
        if (HWND control = GetDlgItem(dialog, id))
            SendMessageA(control, BM_SETCHECK, id == checkId ? BST_CHECKED : BST_UNCHECKED, 0);
    return TRUE;
}

BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check) {
    const HWND control = GetDlgItem(dialog, id);
    if (!control)
        return FALSE;
    SendMessageA(control, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id) {
    const HWND control = GetDlgItem(dialog, id);
    return control ? static_cast<UINT>(SendMessageA(control, BM_GETCHECK, 0, 0)) : 0;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    const HWND control = GetDlgItem(dialog, id);
    return control ? static_cast<BOOL>(SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text))) : FALSE;
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int bufferSize) {
    const HWND control = GetDlgItem(dialog, id);
    if (!control || !buffer || bufferSize <= 0)
        return 0;
    return static_cast<UINT>(SendMessageA(control, WM_GETTEXT, bufferSize, reinterpret_cast<LPARAM>(buffer)));
}

int WINAPI MessageBoxA(HWND parent, LPCSTR text, LPCSTR caption, UINT type) {
    const char* title = caption ? caption : "Error";
    if (!ensureGui()) {
        std::fprintf(stderr, "%s: %s\n", title, text ? text : "");
        std::fflush(stderr);
        return firstButtonResult(type);
    }
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (type & MB_ICONMASK) {
    case MB_ICONERROR: icon = QMessageBox::Critical; break;
    case MB_ICONQUESTION: icon = QMessageBox::Question; break;
    case MB_ICONWARNING: icon = QMessageBox::Warning; break;
    case MB_ICONINFORMATION: icon = QMessageBox::Information; break;
    default: break;
    }
    QMessageBox::StandardButtons buttons;
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: buttons = QMessageBox::Ok | QMessageBox::Cancel; break;
    case MB_ABORTRETRYIGNORE: buttons = QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore; break;
    case MB_YESNOCANCEL: buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
    case MB_YESNO: buttons = QMessageBox::Yes | QMessageBox::No; break;
    case MB_RETRYCANCEL: buttons = QMessageBox::Retry | QMessageBox::Cancel; break;
    default: buttons = QMessageBox::Ok; break;
    }
    QMessageBox box(icon, fromAnsi(title), fromAnsi(text ? text : ""), buttons, platform::topLevelWidgetFor(parent));
    box.setWindowModality(Qt::ApplicationModal);
    bool finished = false;
    QObject::connect(&box, &QMessageBox::finished, &box, [&finished] { finished = true; });
    box.show();
    // Posted messages keep flowing while the box is up, as in any modal loop.
    runModalLoop([&finished] { return finished; });
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok: return IDOK;
    case QMessageBox::Cancel: return IDCANCEL;
    case QMessageBox::Abort: return IDABORT;
    case QMessageBox::Retry: return IDRETRY;
    case QMessageBox::Ignore: return IDIGNORE;
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    default: return (type & MB_TYPEMASK) == MB_OK ? IDOK : IDCANCEL;
    }
}
