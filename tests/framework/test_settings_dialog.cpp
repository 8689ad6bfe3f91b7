// The display settings dialog (IDD_DISPLAY_SETTINGS), driven headlessly over a
// catalog of a scripted Direct3D object. A driving procedure forwards every
// message to the dialog's own procedure and, each time the message queue has
// run dry (the cascade of posted notifications has settled), runs the next
// step of a script: look at the lists, choose as a user would, press a button.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fake_direct3d.h"
#include "framework/settings_dialog.h"
#include "platform/win32/commctrl.h"
#include "resources/resource.h"

namespace {

constexpr UINT kNextStep = WM_APP + 11;

struct Script {
    std::vector<std::function<void(HWND)>> steps;
    std::size_t next = 0;
};
Script* script = nullptr;

bool QueueEmpty() {
    MSG msg;
    return !PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

INT_PTR CALLBACK DrivingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kNextStep) {
        if (!QueueEmpty()) {
            PostMessageA(dialog, kNextStep, 0, 0);  // behind what the cascade still has to do
            return TRUE;
        }
        if (script->next < script->steps.size()) {
            script->steps[script->next++](dialog);
            PostMessageA(dialog, kNextStep, 0, 0);
        } else {
            ADD_FAILURE() << "the script ended without closing the dialog";
            EndDialog(dialog, -5);
        }
        return TRUE;
    }
    const INT_PTR result = DisplaySettingsDialogProc(dialog, message, wParam, lParam);
    if (message == WM_INITDIALOG)
        PostMessageA(dialog, kNextStep, 0, 0);
    return result;
}

INT_PTR RunDialog(Script& s) {
    script = &s;
    const INT_PTR result =
        DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_DISPLAY_SETTINGS), nullptr, DrivingProc, 0);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    EXPECT_EQ(s.next, s.steps.size()) << "every step ran";
    return result;
}

std::vector<std::string> Texts(HWND dialog, int id) {
    std::vector<std::string> out;
    const LRESULT count = SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[256] = {};
        SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text));
        out.emplace_back(text);
    }
    return out;
}

std::string SelectedText(HWND dialog, int id) {
    const LRESULT index = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
    if (index < 0)
        return "(none)";
    char text[256] = {};
    SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, WPARAM(index), reinterpret_cast<LPARAM>(text));
    return text;
}

LPARAM SelectedData(HWND dialog, int id) {
    const LRESULT index = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
    return index < 0 ? -1 : SendDlgItemMessageA(dialog, id, CB_GETITEMDATA, WPARAM(index), 0);
}

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// What a user's pick in a drop-down list amounts to: the selection moves and
// the list notifies its dialog through the queue.
void Choose(HWND dialog, int id, const std::string& text) {
    const std::vector<std::string> texts = Texts(dialog, id);
    const auto found = std::find(texts.begin(), texts.end(), text);
    ASSERT_NE(found, texts.end()) << text << " is not offered by " << id;
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, WPARAM(found - texts.begin()), 0);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void Click(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0); }

using Texts_ = std::vector<std::string>;

// Two adapters: the first with HAL and REF, 16- and 32-bit modes, the second
// with REF alone. Multisampling: 2 samples with three quality levels that D16
// cannot take, 4 samples with none.
class SettingsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        InitCommonControls();
        d3d.adapters.resize(2);
        d3d.adapters[0].description = "Fake adapter one";
        d3d.adapters[0].modes = {{640, 480, 60, D3DFMT_X8R8G8B8},
                                 {800, 600, 60, D3DFMT_X8R8G8B8},
                                 {800, 600, 75, D3DFMT_X8R8G8B8},
                                 {1024, 768, 60, D3DFMT_X8R8G8B8},
                                 {800, 600, 60, D3DFMT_R5G6B5},
                                 // too wide for the resolution list's item data: never offered
                                 {70000, 768, 60, D3DFMT_X8R8G8B8}};
        d3d.adapters[1].description = "Fake adapter two";
        d3d.adapters[1].deviceTypes = {{D3DDEVTYPE_REF, {}}};
        d3d.multisample = {{D3DMULTISAMPLE_NONE, 1}, {D3DMULTISAMPLE_2_SAMPLES, 3}, {D3DMULTISAMPLE_4_SAMPLES, 0}};
        d3d.depthMultisampleFailures = {{D3DFMT_D16, D3DMULTISAMPLE_2_SAMPLES}};
    }

    void Build(bool usesDepthBuffer) {
        catalog.d3d = &d3d;
        catalog.usesDepthBuffer = usesDepthBuffer;
        ASSERT_EQ(catalog.Enumerate(), S_OK);
        ASSERT_EQ(ChooseInitialSettings(catalog, &d3d, RECT{0, 0, 400, 300}, false, settings), S_OK);
        ASSERT_TRUE(settings.isWindowed);
    }

    FakeDirect3D d3d;
    DeviceCatalog catalog;
    DisplaySettings settings;
};

bool SameMode(const D3DDISPLAYMODE& a, const D3DDISPLAYMODE& b) {
    return a.Width == b.Width && a.Height == b.Height && a.RefreshRate == b.RefreshRate && a.Format == b.Format;
}

bool SameSettings(const DisplaySettings& a, const DisplaySettings& b) {
    return a.isWindowed == b.isWindowed && a.windowedAdapter == b.windowedAdapter &&
           a.windowedDevice == b.windowedDevice && a.windowedCombination == b.windowedCombination &&
           SameMode(a.windowedDisplayMode, b.windowedDisplayMode) &&
           a.windowedDepthStencilFormat == b.windowedDepthStencilFormat &&
           a.windowedMultisampleType == b.windowedMultisampleType &&
           a.windowedMultisampleQuality == b.windowedMultisampleQuality &&
           a.windowedVertexProcessing == b.windowedVertexProcessing &&
           a.windowedPresentInterval == b.windowedPresentInterval && a.windowedWidth == b.windowedWidth &&
           a.windowedHeight == b.windowedHeight && a.fullscreenAdapter == b.fullscreenAdapter &&
           a.fullscreenDevice == b.fullscreenDevice && a.fullscreenCombination == b.fullscreenCombination &&
           SameMode(a.fullscreenDisplayMode, b.fullscreenDisplayMode) &&
           a.fullscreenDepthStencilFormat == b.fullscreenDepthStencilFormat &&
           a.fullscreenMultisampleType == b.fullscreenMultisampleType &&
           a.fullscreenMultisampleQuality == b.fullscreenMultisampleQuality &&
           a.fullscreenVertexProcessing == b.fullscreenVertexProcessing &&
           a.fullscreenPresentInterval == b.fullscreenPresentInterval;
}

}  // namespace

TEST_F(SettingsDialog, WindowedListsShowTheDesktopDisabledAndCancelChangesNothing) {
    Build(false);
    const DisplaySettings before = settings;
    DisplaySettingsDialog dialog(&catalog, settings);
    EXPECT_TRUE(SameSettings(dialog.Result(), settings)) << "the dialog starts from a copy";
    Script s;
    s.steps.push_back([](HWND d) {
        EXPECT_EQ(Texts(d, IDC_ADAPTER_COMBO), (Texts_{"Fake adapter one", "Fake adapter two"}));
        EXPECT_EQ(SelectedText(d, IDC_ADAPTER_COMBO), "Fake adapter one");
        EXPECT_EQ(Texts(d, IDC_DEVICE_COMBO), (Texts_{"D3DDEVTYPE_HAL", "D3DDEVTYPE_REF"}));
        EXPECT_EQ(SelectedText(d, IDC_DEVICE_COMBO), "D3DDEVTYPE_HAL");
        EXPECT_TRUE(Checked(d, IDC_WINDOWED_RADIO));
        EXPECT_FALSE(Checked(d, IDC_FULLSCREEN_RADIO));
        EXPECT_TRUE(Enabled(d, IDC_WINDOWED_RADIO) && Enabled(d, IDC_FULLSCREEN_RADIO));

        EXPECT_EQ(Texts(d, IDC_ADAPTER_FORMAT_COMBO), Texts_{"D3DFMT_X8R8G8B8"});
        EXPECT_EQ(Texts(d, IDC_RESOLUTION_COMBO), Texts_{"1024 by 768"});
        EXPECT_EQ(SelectedData(d, IDC_RESOLUTION_COMBO), MAKELONG(1024, 768));
        EXPECT_EQ(Texts(d, IDC_REFRESH_RATE_COMBO), Texts_{"60 Hz"});
        for (int id : {IDC_ADAPTER_FORMAT_COMBO, IDC_RESOLUTION_COMBO, IDC_REFRESH_RATE_COMBO}) {
            EXPECT_EQ(SendDlgItemMessageA(d, id, CB_GETCURSEL, 0, 0), 0) << id;
            EXPECT_FALSE(Enabled(d, id)) << id;
        }

        EXPECT_EQ(Texts(d, IDC_BACK_BUFFER_FORMAT_COMBO), (Texts_{"D3DFMT_A8R8G8B8", "D3DFMT_X8R8G8B8"}));
        EXPECT_EQ(SelectedText(d, IDC_BACK_BUFFER_FORMAT_COMBO), "D3DFMT_X8R8G8B8");
        EXPECT_EQ(Texts(d, IDC_DEPTH_STENCIL_FORMAT_COMBO), Texts_{"(not used)"});
        EXPECT_EQ(SelectedData(d, IDC_DEPTH_STENCIL_FORMAT_COMBO), 0);
        EXPECT_FALSE(Enabled(d, IDC_DEPTH_STENCIL_FORMAT_COMBO));
        // Without a depth buffer nothing conflicts.
        EXPECT_EQ(Texts(d, IDC_MULTISAMPLE_COMBO),
                  (Texts_{"D3DMULTISAMPLE_NONE", "D3DMULTISAMPLE_2_SAMPLES", "D3DMULTISAMPLE_4_SAMPLES"}));
        EXPECT_EQ(SelectedText(d, IDC_MULTISAMPLE_COMBO), "D3DMULTISAMPLE_NONE");
        EXPECT_EQ(Texts(d, IDC_MULTISAMPLE_QUALITY_COMBO), Texts_{"0"});
        EXPECT_EQ(Texts(d, IDC_VERTEX_PROCESSING_COMBO), (Texts_{"PURE_HARDWARE_VP", "HARDWARE_VP", "SOFTWARE_VP"}));
        EXPECT_EQ(SelectedText(d, IDC_VERTEX_PROCESSING_COMBO), "PURE_HARDWARE_VP");
        EXPECT_EQ(Texts(d, IDC_PRESENT_INTERVAL_COMBO),
                  (Texts_{"D3DPRESENT_INTERVAL_IMMEDIATE", "D3DPRESENT_INTERVAL_DEFAULT", "D3DPRESENT_INTERVAL_ONE"}));
        EXPECT_EQ(SelectedText(d, IDC_PRESENT_INTERVAL_COMBO), "D3DPRESENT_INTERVAL_IMMEDIATE");

        // Edit something, then walk away from it.
        Choose(d, IDC_VERTEX_PROCESSING_COMBO, "SOFTWARE_VP");
        Click(d, IDC_FULLSCREEN_RADIO);
    });
    s.steps.push_back([](HWND d) { Click(d, IDCANCEL); });
    EXPECT_EQ(RunDialog(s), IDCANCEL);
    EXPECT_FALSE(SameSettings(dialog.Result(), before)) << "the dialog's own copy was edited";
    EXPECT_TRUE(SameSettings(settings, before));
}

TEST_F(SettingsDialog, OkWithoutChangesReturnsTheSettingsItStartedFrom) {
    for (bool usesDepthBuffer : {false, true}) {
        for (bool windowed : {true, false}) {
            DeviceCatalog own;
            own.d3d = &d3d;
            own.usesDepthBuffer = usesDepthBuffer;
            ASSERT_EQ(own.Enumerate(), S_OK);
            DisplaySettings start;
            ASSERT_EQ(ChooseInitialSettings(own, &d3d, RECT{0, 0, 400, 300}, !windowed, start), S_OK);
            ASSERT_EQ(start.isWindowed, windowed);
            DisplaySettingsDialog dialog(&own, start);
            Script s;
            s.steps.push_back([](HWND d) { Click(d, IDOK); });
            EXPECT_EQ(RunDialog(s), IDOK);
            EXPECT_TRUE(SameSettings(dialog.Result(), start))
                << (usesDepthBuffer ? "depth, " : "") << (windowed ? "windowed" : "full screen");
        }
    }
}

TEST_F(SettingsDialog, FullScreenListsCascadeFromTheModesAndOkReturnsTheChoice) {
    Build(false);
    const DisplaySettings before = settings;
    DisplaySettingsDialog dialog(&catalog, settings);
    Script s;
    s.steps.push_back([](HWND d) { Click(d, IDC_FULLSCREEN_RADIO); });
    s.steps.push_back([](HWND d) {
        EXPECT_TRUE(Checked(d, IDC_FULLSCREEN_RADIO));
        EXPECT_FALSE(Checked(d, IDC_WINDOWED_RADIO));
        for (int id : {IDC_ADAPTER_FORMAT_COMBO, IDC_RESOLUTION_COMBO, IDC_REFRESH_RATE_COMBO})
            EXPECT_TRUE(Enabled(d, id)) << id;
        EXPECT_EQ(Texts(d, IDC_ADAPTER_FORMAT_COMBO), (Texts_{"D3DFMT_X8R8G8B8", "D3DFMT_R5G6B5"}));
        EXPECT_EQ(SelectedText(d, IDC_ADAPTER_FORMAT_COMBO), "D3DFMT_X8R8G8B8");
        // Two modes of 800 by 600: one resolution.
        EXPECT_EQ(Texts(d, IDC_RESOLUTION_COMBO), (Texts_{"640 by 480", "800 by 600", "1024 by 768"}));
        EXPECT_EQ(SelectedText(d, IDC_RESOLUTION_COMBO), "1024 by 768");
        EXPECT_EQ(Texts(d, IDC_REFRESH_RATE_COMBO), Texts_{"60 Hz"});
        EXPECT_EQ(Texts(d, IDC_BACK_BUFFER_FORMAT_COMBO), (Texts_{"D3DFMT_A8R8G8B8", "D3DFMT_X8R8G8B8"}));
        EXPECT_EQ(Texts(d, IDC_PRESENT_INTERVAL_COMBO),
                  (Texts_{"D3DPRESENT_INTERVAL_IMMEDIATE", "D3DPRESENT_INTERVAL_DEFAULT", "D3DPRESENT_INTERVAL_ONE"}));
        EXPECT_EQ(SelectedText(d, IDC_PRESENT_INTERVAL_COMBO), "D3DPRESENT_INTERVAL_DEFAULT");
        Choose(d, IDC_RESOLUTION_COMBO, "800 by 600");
    });
    s.steps.push_back([](HWND d) {
        // ... and two refresh rates.
        EXPECT_EQ(Texts(d, IDC_REFRESH_RATE_COMBO), (Texts_{"60 Hz", "75 Hz"}));
        Choose(d, IDC_REFRESH_RATE_COMBO, "75 Hz");
        Choose(d, IDC_BACK_BUFFER_FORMAT_COMBO, "D3DFMT_A8R8G8B8");
    });
    // The back buffer refills the interval list; choose there afterwards.
    s.steps.push_back([](HWND d) { Choose(d, IDC_PRESENT_INTERVAL_COMBO, "D3DPRESENT_INTERVAL_ONE"); });
    s.steps.push_back([](HWND d) { Click(d, IDOK); });
    EXPECT_EQ(RunDialog(s), IDOK);

    const DisplaySettings& result = dialog.Result();
    EXPECT_FALSE(result.isWindowed);
    EXPECT_EQ(result.fullscreenDisplayMode.Width, 800u);
    EXPECT_EQ(result.fullscreenDisplayMode.Height, 600u);
    EXPECT_EQ(result.fullscreenDisplayMode.RefreshRate, 75u);
    EXPECT_EQ(result.fullscreenDisplayMode.Format, D3DFMT_X8R8G8B8);
    ASSERT_NE(result.fullscreenCombination, nullptr);
    EXPECT_FALSE(result.fullscreenCombination->isWindowed);
    EXPECT_EQ(result.fullscreenCombination->backBufferFormat, D3DFMT_A8R8G8B8);
    EXPECT_EQ(result.fullscreenCombination->deviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(result.fullscreenPresentInterval, UINT(D3DPRESENT_INTERVAL_ONE));
    // The windowed half is as it was.
    EXPECT_EQ(result.windowedCombination, before.windowedCombination);
    EXPECT_EQ(std::memcmp(&result.windowedDisplayMode, &before.windowedDisplayMode, sizeof before.windowedDisplayMode),
              0);
    EXPECT_TRUE(SameSettings(settings, before)) << "the frame's record is not touched by the dialog";
}

TEST_F(SettingsDialog, AnotherAdapterFormatNarrowsResolutionsAndBackBuffers) {
    Build(false);
    DisplaySettingsDialog dialog(&catalog, settings);
    Script s;
    s.steps.push_back([](HWND d) { Click(d, IDC_FULLSCREEN_RADIO); });
    s.steps.push_back([](HWND d) { Choose(d, IDC_ADAPTER_FORMAT_COMBO, "D3DFMT_R5G6B5"); });
    s.steps.push_back([](HWND d) {
        EXPECT_EQ(Texts(d, IDC_RESOLUTION_COMBO), Texts_{"800 by 600"});
        EXPECT_EQ(Texts(d, IDC_REFRESH_RATE_COMBO), Texts_{"60 Hz"});
        EXPECT_EQ(Texts(d, IDC_BACK_BUFFER_FORMAT_COMBO), Texts_{"D3DFMT_R5G6B5"});
        EXPECT_EQ(SelectedText(d, IDC_BACK_BUFFER_FORMAT_COMBO), "D3DFMT_R5G6B5");
        Click(d, IDOK);
    });
    EXPECT_EQ(RunDialog(s), IDOK);
    const DisplaySettings& result = dialog.Result();
    EXPECT_EQ(result.fullscreenDisplayMode.Format, D3DFMT_R5G6B5);
    EXPECT_EQ(result.fullscreenDisplayMode.Width, 800u);
    EXPECT_EQ(result.fullscreenDisplayMode.RefreshRate, 60u);
    ASSERT_NE(result.fullscreenCombination, nullptr);
    EXPECT_EQ(result.fullscreenCombination->adapterFormat, D3DFMT_R5G6B5);
    EXPECT_EQ(result.fullscreenCombination->backBufferFormat, D3DFMT_R5G6B5);
}

TEST_F(SettingsDialog, DepthFormatsRemoveConflictingMultisampleTypesAndQualitiesFollowTheType) {
    Build(true);
    DisplaySettingsDialog dialog(&catalog, settings);
    Script s;
    s.steps.push_back([](HWND d) {
        EXPECT_TRUE(Enabled(d, IDC_DEPTH_STENCIL_FORMAT_COMBO));
        EXPECT_EQ(Texts(d, IDC_DEPTH_STENCIL_FORMAT_COMBO), (Texts_{"D3DFMT_D16", "D3DFMT_D24S8"}));
        EXPECT_EQ(SelectedText(d, IDC_DEPTH_STENCIL_FORMAT_COMBO), "D3DFMT_D16");
        EXPECT_EQ(Texts(d, IDC_MULTISAMPLE_COMBO), (Texts_{"D3DMULTISAMPLE_NONE", "D3DMULTISAMPLE_4_SAMPLES"}));
        Choose(d, IDC_DEPTH_STENCIL_FORMAT_COMBO, "D3DFMT_D24S8");
    });
    s.steps.push_back([](HWND d) {
        EXPECT_EQ(Texts(d, IDC_MULTISAMPLE_COMBO),
                  (Texts_{"D3DMULTISAMPLE_NONE", "D3DMULTISAMPLE_2_SAMPLES", "D3DMULTISAMPLE_4_SAMPLES"}));
        Choose(d, IDC_MULTISAMPLE_COMBO, "D3DMULTISAMPLE_2_SAMPLES");
    });
    s.steps.push_back([](HWND d) {
        EXPECT_EQ(Texts(d, IDC_MULTISAMPLE_QUALITY_COMBO), (Texts_{"0", "1", "2"}));
        Choose(d, IDC_MULTISAMPLE_QUALITY_COMBO, "2");
    });
    s.steps.push_back([](HWND d) { Choose(d, IDC_MULTISAMPLE_COMBO, "D3DMULTISAMPLE_4_SAMPLES"); });
    s.steps.push_back([](HWND d) {
        EXPECT_EQ(Texts(d, IDC_MULTISAMPLE_QUALITY_COMBO), Texts_{});
        Click(d, IDOK);
    });
    EXPECT_EQ(RunDialog(s), IDOK);
    const DisplaySettings& result = dialog.Result();
    EXPECT_TRUE(result.isWindowed);
    EXPECT_EQ(result.windowedDepthStencilFormat, D3DFMT_D24S8);
    EXPECT_EQ(result.windowedMultisampleType, D3DMULTISAMPLE_4_SAMPLES);
    EXPECT_EQ(result.windowedMultisampleQuality, 2u) << "no quality levels leave the quality as it was";
}

TEST_F(SettingsDialog, ChoosingAnotherAdapterOffersItsDevicesAndCombinations) {
    Build(false);
    DisplaySettingsDialog dialog(&catalog, settings);
    Script s;
    s.steps.push_back([](HWND d) { Choose(d, IDC_ADAPTER_COMBO, "Fake adapter two"); });
    s.steps.push_back([](HWND d) {
        EXPECT_EQ(Texts(d, IDC_DEVICE_COMBO), Texts_{"D3DDEVTYPE_REF"});
        EXPECT_EQ(SelectedText(d, IDC_DEVICE_COMBO), "D3DDEVTYPE_REF");
        EXPECT_TRUE(Checked(d, IDC_WINDOWED_RADIO));
        Choose(d, IDC_VERTEX_PROCESSING_COMBO, "HARDWARE_VP");
    });
    s.steps.push_back([](HWND d) { Click(d, IDOK); });
    EXPECT_EQ(RunDialog(s), IDOK);
    const DisplaySettings& result = dialog.Result();
    EXPECT_TRUE(result.isWindowed);
    EXPECT_EQ(result.CurrentAdapter()->adapterOrdinal, 1u);
    EXPECT_EQ(result.CurrentDevice()->deviceType, D3DDEVTYPE_REF);
    EXPECT_EQ(result.CurrentAdapterOrdinal(), 1u) << "the combination is the new device's";
    EXPECT_EQ(result.CurrentDeviceType(), D3DDEVTYPE_REF);
    EXPECT_EQ(result.CurrentVertexProcessing(), HARDWARE_VP);
}

TEST_F(SettingsDialog, ADeviceWithoutWindowedCombinationsGoesFullScreen) {
    d3d.windowedSurfaces = false;
    catalog.d3d = &d3d;
    ASSERT_EQ(catalog.Enumerate(), S_OK);
    // As if the frame had been windowed on a device the catalog does not hold.
    settings.isWindowed = true;
    DisplaySettingsDialog dialog(&catalog, settings);
    Script s;
    s.steps.push_back([](HWND d) {
        EXPECT_FALSE(Enabled(d, IDC_WINDOWED_RADIO));
        EXPECT_TRUE(Enabled(d, IDC_FULLSCREEN_RADIO));
        EXPECT_TRUE(Checked(d, IDC_FULLSCREEN_RADIO));
        EXPECT_EQ(Texts(d, IDC_RESOLUTION_COMBO), (Texts_{"640 by 480", "800 by 600", "1024 by 768"}));
        EXPECT_EQ(SelectedText(d, IDC_RESOLUTION_COMBO), "640 by 480");
        EXPECT_EQ(SelectedText(d, IDC_BACK_BUFFER_FORMAT_COMBO), "D3DFMT_A8R8G8B8");
        Click(d, IDC_WINDOWED_RADIO);  // disabled: nothing happens
    });
    s.steps.push_back([](HWND d) {
        EXPECT_TRUE(Checked(d, IDC_FULLSCREEN_RADIO));
        Click(d, IDOK);
    });
    EXPECT_EQ(RunDialog(s), IDOK);
    const DisplaySettings& result = dialog.Result();
    EXPECT_FALSE(result.isWindowed);
    ASSERT_NE(result.fullscreenCombination, nullptr);
    EXPECT_EQ(result.fullscreenDisplayMode.Width, 640u);
    EXPECT_EQ(result.fullscreenDisplayMode.Height, 480u);
}

TEST_F(SettingsDialog, ShowRunsTemplate144AndClosingItCancels) {
    Build(false);
    DisplaySettingsDialog dialog(&catalog, settings);
    // Close the dialog as the close box would, once it is up.
    std::function<void()> closeWhenUp = [&closeWhenUp] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        else
            QTimer::singleShot(10, closeWhenUp);
    };
    QTimer::singleShot(0, closeWhenUp);
    EXPECT_EQ(dialog.Show(nullptr), IDCANCEL);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}
