// The modal "Direct3D Settings" dialog (IDD_DISPLAY_SETTINGS): the user
// walks the device catalog on a copy of the frame's display settings. Every
// list offers only what the catalog holds for the choices above it, so the
// result is always a combination of the catalog. Selecting an item posts the
// list's change notification, so the lists fill one after another through
// the message queue.
#pragma once

#include "framework/device_catalog.h"
#include "framework/display_settings.h"
#include "platform/win32/windows.h"

class DisplaySettingsDialog {
public:
    // Copies the settings; becomes the one dialog the dialog procedure serves.
    DisplaySettingsDialog(DeviceCatalog* catalog, const DisplaySettings& settings);
    ~DisplaySettingsDialog();
    DisplaySettingsDialog(const DisplaySettingsDialog&) = delete;
    DisplaySettingsDialog& operator=(const DisplaySettingsDialog&) = delete;

    // Runs the dialog; IDOK (1) or IDCANCEL (2), or -1 when it could not be
    // shown.
    INT_PTR Show(HWND parent);
    // The edited settings, for the frame to take after IDOK.
    const DisplaySettings& Result() const { return settings; }

    INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

private:
    void AdapterChanged();
    void DeviceChanged();
    void PresentationChanged();
    void AdapterFormatChanged();
    void ResolutionChanged();
    void RefreshRateChanged();
    void BackBufferFormatChanged();
    void DepthStencilChanged();
    void MultisampleTypeChanged();
    void MultisampleQualityChanged();
    void VertexProcessingChanged();
    void PresentIntervalChanged();

    void ComboAdd(int id, const char* text, LPARAM data);
    void ComboSelect(int id, int index);
    void ComboSelectByData(int id, LPARAM data);
    LPARAM ComboSelectedData(int id);
    bool ComboHasSelection(int id);
    int ComboCount(int id);
    void ComboClear(int id);
    bool ComboContainsText(int id, const char* text);
    void ComboSelectFirstIfNone(int id);

    HWND window = nullptr;
    DeviceCatalog* catalog;
    DisplaySettings settings;
};

// The dialog procedure of IDD_DISPLAY_SETTINGS: forwards to the one dialog
// object.
INT_PTR CALLBACK DisplaySettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
