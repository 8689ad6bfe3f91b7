// The configuration window driven as a user would: select an action, press
// the new key or move the new control, then OK or Cancel; what OK keeps is
// what a DirectInput object made afterwards (the next start) maps.
#include "tests/platform/dinput8/input_test_support.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include "platform/dinput8/dinput_internal.h"

using namespace inputtest;

namespace {

enum : DWORD { Lateral, RotateLeft, RotateRight, Configure, Count };
const GUID kMap = {0xC0FF1234, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
const DWORD kKey = DIDFT_PSHBUTTON;

DWORD keyObject(BYTE dik) { return DIDFT_MAKEINSTANCE(dik) | kKey; }

struct Format {
    DIACTIONA actions[Count] = {
        {1, DIAXIS_3DCONTROL_LATERAL, 0, {"Rotate left/right"}, GUID_NULL, 0, 0},
        {3, DIKEYBOARD_LEFT, 0, {"Rotate left"}, GUID_NULL, 0, 0},
        {4, DIKEYBOARD_RIGHT, 0, {"Rotate right"}, GUID_NULL, 0, 0},
        {7, DIKEYBOARD_F3, DIA_APPFIXED, {"Configure Input"}, GUID_NULL, 0, 0},
    };
    DIACTIONFORMATA format{};
    Format() {
        format.dwSize = sizeof(DIACTIONFORMATA);
        format.dwActionSize = sizeof(DIACTIONA);
        format.dwDataSize = Count * sizeof(DWORD);
        format.dwNumActions = Count;
        format.rgoAction = actions;
        format.guidActionMap = kMap;
        format.dwGenre = DIVIRTUAL_CAD_3DCONTROL;
        format.dwBufferSize = 16;
        format.lAxisMin = -100;
        format.lAxisMax = 100;
    }
};

// What the user does in the window, step by step.
struct User {
    QDialog* dialog = nullptr;
    QTreeWidget* tree() const { return dialog->findChild<QTreeWidget*>("actions"); }
    QString status() const { return dialog->findChild<QLabel*>("status")->text(); }
    QTreeWidgetItem* row(int device, DWORD action) const { return tree()->topLevelItem(device)->child(action); }
    std::string control(int device, DWORD action) const { return row(device, action)->text(1).toStdString(); }
    // As a click on the row: selecting the row already selected listens again.
    void select(int device, DWORD action) const {
        tree()->setCurrentItem(row(device, action));
        emit tree()->itemClicked(row(device, action), 0);
    }
    void press(int key) const {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(tree(), &down);
        QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
        QCoreApplication::sendEvent(tree(), &up);
    }
    void finish(QDialogButtonBox::StandardButton which) const {
        dialog->findChild<QDialogButtonBox*>()->button(which)->click();
    }
};

class Configuration : public ::testing::Test {
protected:
    void SetUp() override {
        if (!platform::guiAvailable())
            GTEST_SKIP() << "needs the GUI library";
        std::filesystem::remove(PrivateConfigEnvironment::storeFile());
        start();
    }
    void TearDown() override {
        if (input)
            input->Release();
    }
    // As the program does at every start.
    void start() {
        if (input)
            input->Release();
        void* object = nullptr;
        ASSERT_EQ(DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8A, &object,
                                     nullptr),
                  DI_OK);
        input = static_cast<IDirectInput8A*>(object);
    }
    // Opens the window and lets `script` act in it; fails the test if the
    // window never shows or the script leaves it open.
    HRESULT configure(const std::function<void(const User&)>& script, DWORD flags = DICD_EDIT) {
        bool ran = false;
        QTimer looking;
        QObject::connect(&looking, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->objectName() == "inputConfiguration" && w->isVisible() && !ran) {
                    ran = true;
                    looking.stop();
                    User user{static_cast<QDialog*>(w)};
                    script(user);
                    if (w->isVisible()) {
                        ADD_FAILURE() << "the script left the window open";
                        static_cast<QDialog*>(w)->reject();
                    }
                }
            }
        });
        looking.start(10);
        DICONFIGUREDEVICESPARAMSA params{};
        params.dwSize = sizeof(params);
        params.dwcFormats = 1;
        params.lprgFormats = &f.format;
        const HRESULT hr = input->ConfigureDevices(nullptr, &params, flags, nullptr);
        EXPECT_TRUE(ran) << "the configuration window never showed";
        return hr;
    }
    struct Mapped {
        DWORD object;
        DWORD how;
    };
    // What the device at `index` of an enumeration maps each action to.
    std::vector<Mapped> mapping(std::size_t index) {
        std::vector<IDirectInputDevice8A*> devices;
        input->EnumDevicesBySemantics(
            nullptr, &f.format,
            [](LPCDIDEVICEINSTANCEA, LPDIRECTINPUTDEVICE8A device, DWORD, DWORD, LPVOID list) -> BOOL {
                device->AddRef();
                static_cast<std::vector<IDirectInputDevice8A*>*>(list)->push_back(device);
                return DIENUM_CONTINUE;
            },
            &devices, 0);
        std::vector<Mapped> result;
        if (index < devices.size()) {
            for (DIACTIONA& a : f.actions)
                a.guidInstance = GUID_NULL, a.dwObjID = 0, a.dwHow = 0;
            devices[index]->BuildActionMap(&f.format, nullptr, 0);
            for (const DIACTIONA& a : f.actions)
                result.push_back({a.dwObjID, a.dwHow});
        }
        for (IDirectInputDevice8A* d : devices)
            d->Release();
        return result;
    }

    IDirectInput8A* input = nullptr;
    Format f;
};

TEST_F(Configuration, ARemappedArrowKeyIsKeptByOKAndMappedAfterARestart) {
    EXPECT_EQ(configure([](const User& user) {
                  EXPECT_EQ(user.control(0, RotateLeft), "Left");
                  user.select(0, RotateLeft);
                  user.press(Qt::Key_Home);
                  EXPECT_EQ(user.control(0, RotateLeft), "Home");
                  // Right goes to "Rotate left"; "Rotate right" loses it.
                  user.select(0, RotateLeft);
                  user.press(Qt::Key_Right);
                  EXPECT_EQ(user.control(0, RotateLeft), "Right");
                  EXPECT_EQ(user.control(0, RotateRight), "(none)");
                  user.select(0, RotateRight);
                  user.press(Qt::Key_A);
                  user.finish(QDialogButtonBox::Ok);
              }),
              DI_OK);
    start();
    const std::vector<Mapped> keyboard = mapping(0);
    ASSERT_EQ(keyboard.size(), std::size_t{Count});
    EXPECT_EQ(keyboard[RotateLeft].object, keyObject(DIK_RIGHT));
    EXPECT_EQ(keyboard[RotateLeft].how, DWORD{DIAH_USERCONFIG});
    EXPECT_EQ(keyboard[RotateRight].object, keyObject(DIK_A));
    EXPECT_EQ(keyboard[Configure].object, keyObject(DIK_F3));
}

TEST_F(Configuration, FixedActionsAndTheirKeysCannotBeTaken) {
    configure([](const User& user) {
        user.select(0, Configure);
        EXPECT_TRUE(user.status().contains("fixed")) << user.status().toStdString();
        user.press(Qt::Key_Home);
        EXPECT_EQ(user.control(0, Configure), "F3 (fixed)");
        user.select(0, RotateLeft);
        user.press(Qt::Key_F3);
        EXPECT_TRUE(user.status().contains("cannot be changed")) << user.status().toStdString();
        EXPECT_EQ(user.control(0, RotateLeft), "Left");
        // An axis action takes no key.
        user.select(0, Lateral);
        user.press(Qt::Key_Home);
        EXPECT_EQ(user.control(0, Lateral), "(none)");
        user.finish(QDialogButtonBox::Ok);
    });
    start();
    const std::vector<Mapped> keyboard = mapping(0);
    ASSERT_EQ(keyboard.size(), std::size_t{Count});
    EXPECT_EQ(keyboard[Configure].object, keyObject(DIK_F3));
    EXPECT_EQ(keyboard[RotateLeft].object, keyObject(DIK_LEFT));
    EXPECT_EQ(keyboard[RotateLeft].how, DWORD{DIAH_DEFAULT});
}

TEST_F(Configuration, CancelDropsWhatWasChanged) {
    configure([](const User& user) {
        user.select(0, RotateLeft);
        user.press(Qt::Key_Home);
        EXPECT_EQ(user.control(0, RotateLeft), "Home");
        user.finish(QDialogButtonBox::Cancel);
    });
    start();
    const std::vector<Mapped> keyboard = mapping(0);
    ASSERT_EQ(keyboard.size(), std::size_t{Count});
    EXPECT_EQ(keyboard[RotateLeft].object, keyObject(DIK_LEFT));
    EXPECT_FALSE(std::filesystem::exists(PrivateConfigEnvironment::storeFile()));
}

TEST_F(Configuration, AControllerActionTakesTheControlMovedOnThatController) {
    VirtualPad pad;
    ASSERT_GE(pad.index, 0);
    start();
    configure([&pad](const User& user) {
        ASSERT_EQ(user.tree()->topLevelItemCount(), 2);
        EXPECT_EQ(user.control(1, Lateral), "Left stick X");
        user.select(1, Lateral);
        // A button is no axis; a nudge is no choice; a real move is.
        pad.button(SDL_CONTROLLER_BUTTON_B, true);
        pad.axis(SDL_CONTROLLER_AXIS_RIGHTX, 4000);
        settle(80);
        EXPECT_EQ(user.control(1, Lateral), "Left stick X");
        EXPECT_TRUE(user.status().contains("needs an axis")) << user.status().toStdString();
        pad.axis(SDL_CONTROLLER_AXIS_RIGHTX, 30000);
        pad.button(SDL_CONTROLLER_BUTTON_B, false);
        settle(80);
        EXPECT_EQ(user.control(1, Lateral), "Right stick X");
        // Keys do nothing to a controller's actions.
        user.select(1, RotateLeft);
        user.press(Qt::Key_Home);
        EXPECT_EQ(user.control(1, RotateLeft), "(none)");
        user.finish(QDialogButtonBox::Ok);
    });
    start();
    const std::vector<Mapped> controller = mapping(1);
    ASSERT_EQ(controller.size(), std::size_t{Count});
    EXPECT_EQ(controller[Lateral].object, DWORD{DIDFT_MAKEINSTANCE(SDL_CONTROLLER_AXIS_RIGHTX) | DIDFT_ABSAXIS});
    EXPECT_EQ(controller[Lateral].how, DWORD{DIAH_USERCONFIG});
    EXPECT_EQ(mapping(0)[RotateLeft].object, keyObject(DIK_LEFT)) << "the keyboard's mapping is its own";
}

TEST_F(Configuration, WithoutEditTheWindowOnlyShows) {
    configure(
        [](const User& user) {
            EXPECT_EQ(user.dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), nullptr);
            user.select(0, RotateLeft);
            user.press(Qt::Key_Home);
            EXPECT_EQ(user.control(0, RotateLeft), "Left");
            user.finish(QDialogButtonBox::Close);
        },
        DICD_DEFAULT);
    DICONFIGUREDEVICESPARAMSA bad{};
    bad.dwSize = sizeof(bad) - 1;
    EXPECT_EQ(input->ConfigureDevices(nullptr, &bad, DICD_EDIT, nullptr), DIERR_INVALIDPARAM);
    EXPECT_EQ(input->ConfigureDevices(nullptr, nullptr, DICD_EDIT, nullptr), DIERR_INVALIDPARAM);
}

}  // namespace

[[maybe_unused]] ::testing::Environment* const privateConfig =
    ::testing::AddGlobalTestEnvironment(new PrivateConfigEnvironment());
