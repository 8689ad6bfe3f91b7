#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>

#include "platform/dinput8/dinput_internal.h"
#include "platform/win32/window_access.h"

namespace platform::dinput8 {

namespace {

constexpr int kDeviceRole = Qt::UserRole;
constexpr int kActionRole = Qt::UserRole + 1;

// The window of DirectInput's configuration: every device with every action
// of the format and the control it has there. Selecting a remappable action
// listens for the next key (keyboard) or control moved (controller) of that
// device.
class ConfigurationDialog : public QDialog {
public:
    ConfigurationDialog(QWidget* owner, DIACTIONFORMATA* format, const std::vector<Device*>& devices, bool edit)
        : QDialog(owner), format_(format), devices_(devices), edit_(edit) {
        setObjectName("inputConfiguration");
        setWindowTitle("Configure Input");
        setWindowModality(Qt::ApplicationModal);
        for (Device* device : devices_) {
            defaults_.push_back(device->defaultBindingsFor(*format_));
            bindings_.push_back(device->bindingsFor(*format_, readStoredMapping(*format_, device->storeKey())));
        }

        tree_ = new QTreeWidget(this);
        tree_->setObjectName("actions");
        tree_->setColumnCount(2);
        tree_->setHeaderLabels({"Action", "Control"});
        tree_->setRootIsDecorated(true);
        for (std::size_t d = 0; d < devices_.size(); ++d) {
            auto* deviceItem = new QTreeWidgetItem(tree_, {QString::fromLocal8Bit(devices_[d]->instance().tszProductName)});
            deviceItem->setData(0, kDeviceRole, static_cast<int>(d));
            deviceItem->setData(0, kActionRole, -1);
            for (DWORD a = 0; a < format_->dwNumActions; ++a) {
                const DIACTIONA& action = format_->rgoAction[a];
                auto* item = new QTreeWidgetItem(deviceItem);
                item->setText(0, QString::fromLocal8Bit(action.lptszActionName ? action.lptszActionName : ""));
                item->setData(0, kDeviceRole, static_cast<int>(d));
                item->setData(0, kActionRole, static_cast<int>(a));
                if (fixed(a))
                    item->setForeground(0, palette().color(QPalette::Disabled, QPalette::Text));
            }
        }
        tree_->expandAll();
        tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        tree_->installEventFilter(this);
        refresh();

        status_ = new QLabel(this);
        status_->setObjectName("status");
        status_->setWordWrap(true);
        status_->setText(edit_ ? "Select an action, then press a key or move a control." : "");

        auto* buttons = new QDialogButtonBox(edit_ ? QDialogButtonBox::Ok | QDialogButtonBox::Cancel
                                                   : QDialogButtonBox::Close,
                                             this);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        for (QAbstractButton* button : buttons->buttons())
            button->installEventFilter(this);

        auto* layout = new QVBoxLayout(this);
        layout->addWidget(tree_);
        layout->addWidget(status_);
        layout->addWidget(buttons);
        resize(480, 420);

        connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { select(item); });
        connect(tree_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { select(item); });
        connect(this, &QDialog::finished, this, [this](int result) {
            accepted_ = result == QDialog::Accepted;
            done_ = true;
        });

        setControllerObserver([this](const ControllerChange& change) { controllerChanged(change); });
        connect(&pump_, &QTimer::timeout, [] { pumpControllers(); });
        pump_.start(20);
    }

    ~ConfigurationDialog() override {
        pump_.stop();
        setControllerObserver(nullptr);
    }

    bool finishedRunning() const { return done_; }
    bool acceptedByUser() const { return accepted_; }

    // The user's choices: every remappable action whose control differs from
    // the device's default.
    void save() const {
        for (std::size_t d = 0; d < devices_.size(); ++d) {
            StoredMapping choices;
            for (DWORD a = 0; a < format_->dwNumActions; ++a) {
                if (!fixed(a) && bindings_[d][a].object != defaults_[d][a].object)
                    choices[a] = bindings_[d][a].object;
            }
            if (!writeStoredMapping(*format_, devices_[d]->storeKey(), choices)) {
                static bool reported = false;
                if (!reported) {
                    reported = true;
                    std::fprintf(stderr, "input: the input mapping could not be stored\n");
                }
            }
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && listening()) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Escape) {
                listening_ = false;
                status_->setText("Select an action, then press a key or move a control.");
                return true;
            }
            if (devices_[device_]->storeKey() == "Keyboard") {
                if (!key->isAutoRepeat()) {
                    const BYTE dik = dikFor(key->nativeScanCode(), key->key(),
                                            (key->modifiers() & Qt::KeypadModifier) != 0);
                    assign(dik ? buttonObject(dik) : 0);
                }
                return true;
            }
        }
        return QDialog::eventFilter(watched, event);
    }

private:
    bool fixed(DWORD action) const { return (format_->rgoAction[action].dwFlags & DIA_APPFIXED) != 0; }
    bool listening() const { return edit_ && listening_ && device_ < devices_.size(); }
    QString actionName(DWORD action) const {
        const char* name = format_->rgoAction[action].lptszActionName;
        return QString::fromLocal8Bit(name ? name : "");
    }
    QString controlName(std::size_t device, DWORD object) const {
        return object ? QString::fromLocal8Bit(devices_[device]->objectName(object).c_str()) : QString("(none)");
    }

    void refresh() {
        for (int d = 0; d < tree_->topLevelItemCount(); ++d) {
            QTreeWidgetItem* deviceItem = tree_->topLevelItem(d);
            for (int a = 0; a < deviceItem->childCount(); ++a) {
                const DWORD object = bindings_[d][a].object;
                QString text = controlName(d, object);
                if (fixed(a))
                    text += " (fixed)";
                deviceItem->child(a)->setText(1, text);
            }
        }
    }

    void select(QTreeWidgetItem* item) {
        listening_ = false;
        if (!item || !edit_)
            return;
        const int action = item->data(0, kActionRole).toInt();
        if (action < 0)
            return;
        device_ = static_cast<std::size_t>(item->data(0, kDeviceRole).toInt());
        action_ = static_cast<DWORD>(action);
        if (fixed(action_)) {
            status_->setText("\"" + actionName(action_) + "\" is fixed and cannot be changed.");
            return;
        }
        listening_ = true;
        status_->setText(devices_[device_]->storeKey() == "Keyboard"
                             ? "Press the new key for \"" + actionName(action_) + "\"."
                             : "Move the new control for \"" + actionName(action_) + "\".");
    }

    void controllerChanged(const ControllerChange& change) {
        if (!listening() || guidText(devices_[device_]->instance().guidInstance) != change.deviceKey)
            return;
        // Half a deflection is a deliberate move, not a stick resting off centre.
        if (isAxisObject(change.object) ? std::abs(change.position) < 16384 : change.position == 0)
            return;
        assign(change.object);
    }

    void assign(DWORD object) {
        Device* device = devices_[device_];
        const bool axis = isAxisSemantic(format_->rgoAction[action_].dwSemantic);
        if (!object || !device->hasObject(object)) {
            status_->setText("That control cannot be used.");
            return;
        }
        if (axis != isAxisObject(object)) {
            status_->setText(axis ? "\"" + actionName(action_) + "\" needs an axis."
                                  : "\"" + actionName(action_) + "\" needs a key or button.");
            return;
        }
        std::vector<ActionBinding>& bindings = bindings_[device_];
        for (DWORD other = 0; other < bindings.size(); ++other) {
            if (other != action_ && bindings[other].object == object && fixed(other)) {
                status_->setText(controlName(device_, object) + " belongs to \"" + actionName(other) +
                                 "\", which cannot be changed.");
                return;
            }
        }
        // A control serves one action: the action that had it loses it.
        for (DWORD other = 0; other < bindings.size(); ++other) {
            if (other != action_ && bindings[other].object == object)
                bindings[other] = ActionBinding{0, DIAH_USERCONFIG};
        }
        bindings[action_] = ActionBinding{object, DIAH_USERCONFIG};
        listening_ = false;
        refresh();
        status_->setText("\"" + actionName(action_) + "\": " + controlName(device_, object));
    }

    DIACTIONFORMATA* format_;
    std::vector<Device*> devices_;
    bool edit_;
    std::vector<std::vector<ActionBinding>> defaults_;
    std::vector<std::vector<ActionBinding>> bindings_;
    QTreeWidget* tree_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer pump_;
    std::size_t device_ = 0;
    DWORD action_ = 0;
    bool listening_ = false;
    bool done_ = false;
    bool accepted_ = false;
};

}  // namespace

HRESULT runConfiguration(HWND owner, DIACTIONFORMATA* format, const std::vector<Device*>& devices, bool edit) {
    QWidget* ownerWidget = platform::topLevelWidgetFor(owner);
    ConfigurationDialog dialog(ownerWidget, format, devices, edit);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    platform::runModalLoop([&dialog] { return dialog.finishedRunning(); });
    if (dialog.acceptedByUser() && edit)
        dialog.save();
    dialog.hide();
    // The keyboard goes back to the window the configuration was opened
    // from, as when any owned window closes.
    if (ownerWidget) {
        ownerWidget->activateWindow();
        ownerWidget->raise();
    }
    return DI_OK;
}

}  // namespace platform::dinput8
