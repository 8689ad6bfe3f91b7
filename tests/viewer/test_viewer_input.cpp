// The viewer's use of input in the running frame (REF device, offscreen
// window): keys turn the surface, F3 opens the input configuration once per
// press and gives every device a fresh state, and a pause forgets held keys.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <filesystem>
#include <functional>

#include "platform/win32/commctrl.h"
#include "platform/win32/window_access.h"
#include "startup/mode_surface.h"
#include "viewer/viewer_app.h"

namespace {

ModeVertex surfaceVertices[4] = {{0, 0, -1}, {0.5f, 0, 0}, {0, 0.5f, 0.5f}, {-0.5f, 0, 0.25f}};
ModeTriangle surfaceTriangles[2] = {{0, 1, 2}, {3, 0, 2}};

class InputViewer : public ViewerApp {
public:
    using ViewerApp::inputMapper;
    using ViewerApp::rotationY;
    using ViewerApp::userInput;
    using ViewerApp::window;

    HRESULT AcceptDevice(D3DCAPS9* caps, DWORD flags, D3DFORMAT format) override {
        return caps->DeviceType == D3DDEVTYPE_REF ? ViewerApp::AcceptDevice(caps, flags, format) : E_FAIL;
    }
    HRESULT UpdateScene() override {
        ++frames;
        return ViewerApp::UpdateScene();
    }
    // Turns of the main loop until `frameCount` more frames have run.
    void RunFrames(int frameCount) {
        const long until = frames + frameCount;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (frames < until && std::chrono::steady_clock::now() < giveUp) {
            MSG message;
            if (PeekMessage(&message, nullptr, 0U, 0U, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessage(&message);
            } else if (active) {
                StepFrame();
            } else {
                QApplication::processEvents();
            }
        }
    }
    // The state of each mapped device, none where a device has none.
    std::vector<InputDeviceState*> States() {
        MappedDevice* devices = nullptr;
        DWORD count = 0;
        std::vector<InputDeviceState*> states;
        if (inputMapper && SUCCEEDED(inputMapper->ListDevices(&devices, &count)))
            for (DWORD i = 0; i < count; ++i)
                states.push_back(devices[i].state.get());
        return states;
    }
    long frames = 0;
};

class ViewerInput : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        InitCommonControls();
        PublishModeSurface(ModeSurface{surfaceTriangles, surfaceVertices, 2, 4});
    }
    void SetUp() override {
        char pattern[] = "/tmp/vl_viewer_input_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        viewer_ = new InputViewer();
        ASSERT_EQ(viewer_->Create(GetModuleHandleA(nullptr)), S_OK);
        SetForegroundWindow(viewer_->window);
        QWidget* top = platform::topLevelWidgetFor(viewer_->window);
        ASSERT_NE(top, nullptr);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!top->isActiveWindow() && std::chrono::steady_clock::now() < giveUp)
            QApplication::processEvents();
        ASSERT_TRUE(top->isActiveWindow());
        viewer_->RunFrames(2);
    }
    void TearDown() override {
        if (viewer_) {
            SendMessage(viewer_->window, WM_CLOSE, 0, 0);
            delete viewer_;
        }
        std::filesystem::remove_all(dir_);
    }
    // A key as the window system hands it to the render window.
    void key(int qtKey, bool down) {
        QWidget* target = platform::topLevelWidgetFor(viewer_->window)->focusWidget();
        ASSERT_NE(target, nullptr);
        QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, qtKey, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &event);
    }

    InputViewer* viewer_ = nullptr;
    std::string dir_;
};

TEST_F(ViewerInput, ArrowKeysTurnTheSurfaceWhileHeld) {
    ASSERT_FALSE(viewer_->States().empty()) << "the keyboard is mapped";
    const float before = viewer_->rotationY;
    key(Qt::Key_Left, true);
    viewer_->RunFrames(3);
    EXPECT_EQ(viewer_->userInput.axisLeftRight, 1.0f);
    EXPECT_GT(viewer_->rotationY, before);
    key(Qt::Key_Left, false);
    viewer_->RunFrames(1);
    EXPECT_EQ(viewer_->userInput.axisLeftRight, 0.0f);
    const float stopped = viewer_->rotationY;
    viewer_->RunFrames(2);
    EXPECT_EQ(viewer_->rotationY, stopped);
}

TEST_F(ViewerInput, F3OpensTheConfigurationOncePerPressAndEveryDeviceGetsAFreshState) {
    int shown = 0;
    QTimer looking;
    QObject::connect(&looking, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == "inputConfiguration" && w->isVisible()) {
                ++shown;
                // Held keys are forgotten while the window is up.
                for (InputDeviceState* state : viewer_->States())
                    EXPECT_EQ(state, nullptr);
                w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
            }
        }
    });
    looking.start(10);
    key(Qt::Key_F3, true);
    viewer_->RunFrames(5);
    EXPECT_EQ(shown, 1);
    const std::vector<InputDeviceState*> states = viewer_->States();
    ASSERT_FALSE(states.empty());
    for (InputDeviceState* state : states) {
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(state->rotateLeft, FALSE);
    }
    viewer_->RunFrames(5);
    EXPECT_EQ(shown, 1) << "a held F3 asks once";
    key(Qt::Key_F3, false);
    viewer_->RunFrames(1);
    key(Qt::Key_F3, true);
    viewer_->RunFrames(3);
    EXPECT_EQ(shown, 2);
    key(Qt::Key_F3, false);
}

TEST_F(ViewerInput, AKeyHeldWhenAPauseBeginsIsForgotten) {
    key(Qt::Key_Up, true);
    viewer_->RunFrames(2);
    EXPECT_EQ(viewer_->userInput.axisUpDown, 1.0f);
    viewer_->Pause(true);
    viewer_->Pause(false);
    viewer_->RunFrames(2);
    EXPECT_EQ(viewer_->userInput.axisUpDown, 0.0f);
    key(Qt::Key_Up, false);
    key(Qt::Key_Down, true);
    viewer_->RunFrames(2);
    EXPECT_EQ(viewer_->userInput.axisUpDown, -1.0f);
    key(Qt::Key_Down, false);
}

}  // namespace
