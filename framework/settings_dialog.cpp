#include "framework/settings_dialog.h"

#include <cstdio>
#include <cstring>

#include "framework/render_utils.h"
#include "resources/resource.h"

namespace {

// The dialog procedure has no other way to the object than this.
DisplaySettingsDialog* theDialog = nullptr;

// Item texts of this length or more never count as already listed.
constexpr int kMaxComparedText = 200;

const char* DeviceTypeName(D3DDEVTYPE type) {
    switch (type) {
    case D3DDEVTYPE_HAL: return "D3DDEVTYPE_HAL";
    case D3DDEVTYPE_REF: return "D3DDEVTYPE_REF";
    case D3DDEVTYPE_SW: return "D3DDEVTYPE_SW";
    default: return "Unknown devType";
    }
}

const char* MultisampleTypeName(D3DMULTISAMPLE_TYPE type) {
    static const char* const names[] = {
        "D3DMULTISAMPLE_NONE",       "D3DMULTISAMPLE_NONMASKABLE", "D3DMULTISAMPLE_2_SAMPLES",
        "D3DMULTISAMPLE_3_SAMPLES",  "D3DMULTISAMPLE_4_SAMPLES",   "D3DMULTISAMPLE_5_SAMPLES",
        "D3DMULTISAMPLE_6_SAMPLES",  "D3DMULTISAMPLE_7_SAMPLES",   "D3DMULTISAMPLE_8_SAMPLES",
        "D3DMULTISAMPLE_9_SAMPLES",  "D3DMULTISAMPLE_10_SAMPLES",  "D3DMULTISAMPLE_11_SAMPLES",
        "D3DMULTISAMPLE_12_SAMPLES", "D3DMULTISAMPLE_13_SAMPLES",  "D3DMULTISAMPLE_14_SAMPLES",
        "D3DMULTISAMPLE_15_SAMPLES", "D3DMULTISAMPLE_16_SAMPLES",
    };
    if (type >= D3DMULTISAMPLE_NONE && type <= D3DMULTISAMPLE_16_SAMPLES)
        return names[type];
    return "Unknown Multisample Type";
}

const char* VertexProcessingName(VertexProcessing vertexProcessing) {
    switch (vertexProcessing) {
    case SOFTWARE_VP: return "SOFTWARE_VP";
    case MIXED_VP: return "MIXED_VP";
    case HARDWARE_VP: return "HARDWARE_VP";
    case PURE_HARDWARE_VP: return "PURE_HARDWARE_VP";
    default: return "Unknown VertexProcessingType";
    }
}

const char* PresentIntervalName(UINT interval) {
    switch (interval) {
    case D3DPRESENT_INTERVAL_DEFAULT: return "D3DPRESENT_INTERVAL_DEFAULT";
    case D3DPRESENT_INTERVAL_ONE: return "D3DPRESENT_INTERVAL_ONE";
    case D3DPRESENT_INTERVAL_TWO: return "D3DPRESENT_INTERVAL_TWO";
    case D3DPRESENT_INTERVAL_THREE: return "D3DPRESENT_INTERVAL_THREE";
    case D3DPRESENT_INTERVAL_FOUR: return "D3DPRESENT_INTERVAL_FOUR";
    case UINT(D3DPRESENT_INTERVAL_IMMEDIATE): return "D3DPRESENT_INTERVAL_IMMEDIATE";
    default: return "Unknown PresentInterval";
    }
}

void RateText(char* text, std::size_t size, UINT rate) {
    if (rate == 0)
        std::snprintf(text, size, "Default Rate");
    else
        std::snprintf(text, size, "%d Hz", int(rate));
}

// Width in the low and height in the high 16 bits.
LPARAM ResolutionData(UINT width, UINT height) { return LPARAM(DWORD(MAKELONG(width, height))); }

// Larger sizes do not survive the item data's two 16-bit halves.
bool ResolutionFits(UINT width, UINT height) { return width <= 0xFFFF && height <= 0xFFFF; }

}  // namespace

DisplaySettingsDialog::DisplaySettingsDialog(DeviceCatalog* catalog, const DisplaySettings& settings)
    : catalog(catalog), settings(settings) {
    theDialog = this;
}

DisplaySettingsDialog::~DisplaySettingsDialog() {
    if (theDialog == this)
        theDialog = nullptr;
}

INT_PTR DisplaySettingsDialog::Show(HWND parent) {
    theDialog = this;
    return DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_DISPLAY_SETTINGS), parent, DisplaySettingsDialogProc, 0);
}

INT_PTR CALLBACK DisplaySettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return theDialog ? theDialog->HandleMessage(dialog, message, wParam, lParam) : FALSE;
}

INT_PTR DisplaySettingsDialog::HandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        window = dialog;
        if (catalog && catalog->adapters) {
            const UINT ordinal = settings.CurrentAdapterOrdinal();
            int selectIndex = -1;
            for (UINT a = 0; a < catalog->adapters->Count(); ++a) {
                auto* adapter = static_cast<AdapterEntry*>(catalog->adapters->Get(a));
                char description[MAX_DEVICE_IDENTIFIER_STRING];
                CopyText(description, adapter->identifier.Description, MAX_DEVICE_IDENTIFIER_STRING);
                ComboAdd(IDC_ADAPTER_COMBO, description, reinterpret_cast<LPARAM>(adapter));
                if (selectIndex < 0 && adapter->adapterOrdinal == ordinal)
                    selectIndex = int(a);
            }
            if (selectIndex >= 0)
                ComboSelect(IDC_ADAPTER_COMBO, selectIndex);
            else
                ComboSelectFirstIfNone(IDC_ADAPTER_COMBO);
        }
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;

    const int id = LOWORD(wParam);
    const int code = HIWORD(wParam);
    switch (id) {
    case IDOK: EndDialog(dialog, IDOK); break;
    case IDCANCEL: EndDialog(dialog, IDCANCEL); break;
    case IDC_WINDOWED_RADIO:
    case IDC_FULLSCREEN_RADIO: PresentationChanged(); break;
    default:
        if (code != CBN_SELCHANGE)
            break;
        switch (id) {
        case IDC_ADAPTER_COMBO: AdapterChanged(); break;
        case IDC_DEVICE_COMBO: DeviceChanged(); break;
        case IDC_ADAPTER_FORMAT_COMBO: AdapterFormatChanged(); break;
        case IDC_RESOLUTION_COMBO: ResolutionChanged(); break;
        case IDC_REFRESH_RATE_COMBO: RefreshRateChanged(); break;
        case IDC_BACK_BUFFER_FORMAT_COMBO: BackBufferFormatChanged(); break;
        case IDC_DEPTH_STENCIL_FORMAT_COMBO: DepthStencilChanged(); break;
        case IDC_MULTISAMPLE_COMBO: MultisampleTypeChanged(); break;
        case IDC_MULTISAMPLE_QUALITY_COMBO: MultisampleQualityChanged(); break;
        case IDC_VERTEX_PROCESSING_COMBO: VertexProcessingChanged(); break;
        case IDC_PRESENT_INTERVAL_COMBO: PresentIntervalChanged(); break;
        default: break;
        }
        break;
    }
    return TRUE;
}

// ---------------------------------------------------------------- handlers

void DisplaySettingsDialog::AdapterChanged() {
    auto* adapter = reinterpret_cast<AdapterEntry*>(ComboSelectedData(IDC_ADAPTER_COMBO));
    if (!adapter)
        return;
    settings.SetCurrentAdapter(adapter);

    ComboClear(IDC_DEVICE_COMBO);
    const D3DDEVTYPE currentType = settings.CurrentDeviceType();
    int selectIndex = -1;
    for (UINT d = 0; d < adapter->devices->Count(); ++d) {
        auto* device = static_cast<DeviceEntry*>(adapter->devices->Get(d));
        ComboAdd(IDC_DEVICE_COMBO, DeviceTypeName(device->deviceType), reinterpret_cast<LPARAM>(device));
        if (selectIndex < 0 && device->deviceType == currentType)
            selectIndex = int(d);
    }
    if (selectIndex >= 0)
        ComboSelect(IDC_DEVICE_COMBO, selectIndex);
    else
        ComboSelectFirstIfNone(IDC_DEVICE_COMBO);
}

void DisplaySettingsDialog::DeviceChanged() {
    auto* device = reinterpret_cast<DeviceEntry*>(ComboSelectedData(IDC_DEVICE_COMBO));
    if (!device)
        return;
    settings.SetCurrentDevice(device);

    bool anyWindowed = false;
    bool anyFullscreen = false;
    for (UINT c = 0; c < device->combinations->Count(); ++c) {
        const auto* combination = static_cast<DeviceCombination*>(device->combinations->Get(c));
        if (combination->isWindowed)
            anyWindowed = true;
        else
            anyFullscreen = true;
    }
    EnableWindow(GetDlgItem(window, IDC_WINDOWED_RADIO), anyWindowed);
    EnableWindow(GetDlgItem(window, IDC_FULLSCREEN_RADIO), anyFullscreen);
    const bool windowed = settings.isWindowed && anyWindowed;
    CheckRadioButton(window, IDC_WINDOWED_RADIO, IDC_FULLSCREEN_RADIO,
                     windowed ? IDC_WINDOWED_RADIO : IDC_FULLSCREEN_RADIO);
    PresentationChanged();
}

void DisplaySettingsDialog::PresentationChanged() {
    auto* adapter = reinterpret_cast<AdapterEntry*>(ComboSelectedData(IDC_ADAPTER_COMBO));
    auto* device = reinterpret_cast<DeviceEntry*>(ComboSelectedData(IDC_DEVICE_COMBO));
    if (!adapter || !device)
        return;

    if (IsDlgButtonChecked(window, IDC_WINDOWED_RADIO) == BST_CHECKED) {
        settings.isWindowed = true;
        settings.windowedAdapter = adapter;
        settings.windowedDevice = device;

        // The desktop decides the windowed mode; the lists only show it.
        const D3DDISPLAYMODE& mode = settings.windowedDisplayMode;
        char text[64];
        ComboClear(IDC_ADAPTER_FORMAT_COMBO);
        ComboAdd(IDC_ADAPTER_FORMAT_COMBO, FormatName(mode.Format, true), mode.Format);
        ComboSelect(IDC_ADAPTER_FORMAT_COMBO, 0);

        ComboClear(IDC_RESOLUTION_COMBO);
        std::snprintf(text, sizeof text, "%d by %d", int(mode.Width), int(mode.Height));
        ComboAdd(IDC_RESOLUTION_COMBO, text, ResolutionData(mode.Width, mode.Height));
        ComboSelect(IDC_RESOLUTION_COMBO, 0);

        ComboClear(IDC_REFRESH_RATE_COMBO);
        RateText(text, sizeof text, mode.RefreshRate);
        ComboAdd(IDC_REFRESH_RATE_COMBO, text, LPARAM(mode.RefreshRate));
        ComboSelect(IDC_REFRESH_RATE_COMBO, 0);

        EnableWindow(GetDlgItem(window, IDC_ADAPTER_FORMAT_COMBO), FALSE);
        EnableWindow(GetDlgItem(window, IDC_RESOLUTION_COMBO), FALSE);
        EnableWindow(GetDlgItem(window, IDC_REFRESH_RATE_COMBO), FALSE);
        return;
    }

    settings.isWindowed = false;
    settings.fullscreenAdapter = adapter;
    settings.fullscreenDevice = device;

    ComboClear(IDC_ADAPTER_FORMAT_COMBO);
    for (UINT c = 0; c < device->combinations->Count(); ++c) {
        const auto* combination = static_cast<DeviceCombination*>(device->combinations->Get(c));
        const char* name = FormatName(combination->adapterFormat, true);
        if (!ComboContainsText(IDC_ADAPTER_FORMAT_COMBO, name))
            ComboAdd(IDC_ADAPTER_FORMAT_COMBO, name, combination->adapterFormat);
    }
    ComboSelectByData(IDC_ADAPTER_FORMAT_COMBO, settings.fullscreenDisplayMode.Format);
    ComboSelectFirstIfNone(IDC_ADAPTER_FORMAT_COMBO);

    EnableWindow(GetDlgItem(window, IDC_ADAPTER_FORMAT_COMBO), TRUE);
    EnableWindow(GetDlgItem(window, IDC_RESOLUTION_COMBO), TRUE);
    EnableWindow(GetDlgItem(window, IDC_REFRESH_RATE_COMBO), TRUE);
}

void DisplaySettingsDialog::AdapterFormatChanged() {
    if (!settings.isWindowed) {
        if (!ComboHasSelection(IDC_ADAPTER_FORMAT_COMBO))
            return;
        const auto format = D3DFORMAT(ComboSelectedData(IDC_ADAPTER_FORMAT_COMBO));
        settings.fullscreenDisplayMode.Format = format;

        ComboClear(IDC_RESOLUTION_COMBO);
        if (auto* adapter = reinterpret_cast<AdapterEntry*>(ComboSelectedData(IDC_ADAPTER_COMBO))) {
            for (UINT m = 0; m < adapter->displayModes->Count(); ++m) {
                const auto* mode = static_cast<D3DDISPLAYMODE*>(adapter->displayModes->Get(m));
                if (mode->Format != format || !ResolutionFits(mode->Width, mode->Height))
                    continue;
                char text[64];
                std::snprintf(text, sizeof text, "%d by %d", int(mode->Width), int(mode->Height));
                if (!ComboContainsText(IDC_RESOLUTION_COMBO, text))
                    ComboAdd(IDC_RESOLUTION_COMBO, text, ResolutionData(mode->Width, mode->Height));
            }
        }
        const D3DDISPLAYMODE& current = settings.fullscreenDisplayMode;
        if (ResolutionFits(current.Width, current.Height))
            ComboSelectByData(IDC_RESOLUTION_COMBO, ResolutionData(current.Width, current.Height));
        ComboSelectFirstIfNone(IDC_RESOLUTION_COMBO);
    }

    auto* device = reinterpret_cast<DeviceEntry*>(ComboSelectedData(IDC_DEVICE_COMBO));
    if (!device)
        return;
    ComboClear(IDC_BACK_BUFFER_FORMAT_COMBO);
    const D3DFORMAT displayFormat = settings.CurrentDisplayMode().Format;
    for (UINT c = 0; c < device->combinations->Count(); ++c) {
        const auto* combination = static_cast<DeviceCombination*>(device->combinations->Get(c));
        if (combination->isWindowed != settings.isWindowed || combination->adapterFormat != displayFormat)
            continue;
        const char* name = FormatName(combination->backBufferFormat, true);
        if (!ComboContainsText(IDC_BACK_BUFFER_FORMAT_COMBO, name))
            ComboAdd(IDC_BACK_BUFFER_FORMAT_COMBO, name, combination->backBufferFormat);
    }
    if (const DeviceCombination* current = settings.CurrentCombination())
        ComboSelectByData(IDC_BACK_BUFFER_FORMAT_COMBO, current->backBufferFormat);
    ComboSelectFirstIfNone(IDC_BACK_BUFFER_FORMAT_COMBO);
}

void DisplaySettingsDialog::ResolutionChanged() {
    if (settings.isWindowed)
        return;
    auto* adapter = reinterpret_cast<AdapterEntry*>(ComboSelectedData(IDC_ADAPTER_COMBO));
    if (!adapter || !ComboHasSelection(IDC_RESOLUTION_COMBO))
        return;
    const auto size = DWORD(ComboSelectedData(IDC_RESOLUTION_COMBO));
    settings.fullscreenDisplayMode.Width = LOWORD(size);
    settings.fullscreenDisplayMode.Height = HIWORD(size);
    const auto format = D3DFORMAT(ComboSelectedData(IDC_ADAPTER_FORMAT_COMBO));

    ComboClear(IDC_REFRESH_RATE_COMBO);
    for (UINT m = 0; m < adapter->displayModes->Count(); ++m) {
        const auto* mode = static_cast<D3DDISPLAYMODE*>(adapter->displayModes->Get(m));
        if (mode->Format != format || mode->Width != settings.fullscreenDisplayMode.Width ||
            mode->Height != settings.fullscreenDisplayMode.Height)
            continue;
        char text[64];
        RateText(text, sizeof text, mode->RefreshRate);
        if (!ComboContainsText(IDC_REFRESH_RATE_COMBO, text))
            ComboAdd(IDC_REFRESH_RATE_COMBO, text, LPARAM(mode->RefreshRate));
    }
    ComboSelectByData(IDC_REFRESH_RATE_COMBO, LPARAM(settings.fullscreenDisplayMode.RefreshRate));
    ComboSelectFirstIfNone(IDC_REFRESH_RATE_COMBO);
}

void DisplaySettingsDialog::RefreshRateChanged() {
    if (settings.isWindowed || !ComboHasSelection(IDC_REFRESH_RATE_COMBO))
        return;
    settings.fullscreenDisplayMode.RefreshRate = UINT(ComboSelectedData(IDC_REFRESH_RATE_COMBO));
}

void DisplaySettingsDialog::BackBufferFormatChanged() {
    auto* device = reinterpret_cast<DeviceEntry*>(ComboSelectedData(IDC_DEVICE_COMBO));
    if (!device || !ComboHasSelection(IDC_ADAPTER_FORMAT_COMBO) || !ComboHasSelection(IDC_BACK_BUFFER_FORMAT_COMBO))
        return;
    const auto adapterFormat = D3DFORMAT(ComboSelectedData(IDC_ADAPTER_FORMAT_COMBO));
    const auto backBufferFormat = D3DFORMAT(ComboSelectedData(IDC_BACK_BUFFER_FORMAT_COMBO));
    DeviceCombination* found = nullptr;
    for (UINT c = 0; c < device->combinations->Count() && !found; ++c) {
        auto* combination = static_cast<DeviceCombination*>(device->combinations->Get(c));
        if (combination->isWindowed == settings.isWindowed && combination->adapterFormat == adapterFormat &&
            combination->backBufferFormat == backBufferFormat)
            found = combination;
    }
    if (!found)
        return;
    settings.SetCurrentCombination(found);

    ComboClear(IDC_DEPTH_STENCIL_FORMAT_COMBO);
    if (catalog->usesDepthBuffer) {
        EnableWindow(GetDlgItem(window, IDC_DEPTH_STENCIL_FORMAT_COMBO), TRUE);
        for (UINT i = 0; i < found->depthStencilFormats->Count(); ++i) {
            const D3DFORMAT format = *static_cast<D3DFORMAT*>(found->depthStencilFormats->Get(i));
            ComboAdd(IDC_DEPTH_STENCIL_FORMAT_COMBO, FormatName(format, true), format);
        }
        ComboSelectByData(IDC_DEPTH_STENCIL_FORMAT_COMBO, settings.CurrentDepthStencilFormat());
        ComboSelectFirstIfNone(IDC_DEPTH_STENCIL_FORMAT_COMBO);
    } else {
        EnableWindow(GetDlgItem(window, IDC_DEPTH_STENCIL_FORMAT_COMBO), FALSE);
        ComboAdd(IDC_DEPTH_STENCIL_FORMAT_COMBO, "(not used)", 0);
        ComboSelect(IDC_DEPTH_STENCIL_FORMAT_COMBO, 0);
    }

    ComboClear(IDC_VERTEX_PROCESSING_COMBO);
    for (UINT i = 0; i < found->vertexProcessingTypes->Count(); ++i) {
        const VertexProcessing type = *static_cast<VertexProcessing*>(found->vertexProcessingTypes->Get(i));
        ComboAdd(IDC_VERTEX_PROCESSING_COMBO, VertexProcessingName(type), type);
    }
    ComboSelectByData(IDC_VERTEX_PROCESSING_COMBO, settings.CurrentVertexProcessing());
    ComboSelectFirstIfNone(IDC_VERTEX_PROCESSING_COMBO);

    ComboClear(IDC_PRESENT_INTERVAL_COMBO);
    for (UINT i = 0; i < found->presentIntervals->Count(); ++i) {
        const UINT interval = *static_cast<UINT*>(found->presentIntervals->Get(i));
        ComboAdd(IDC_PRESENT_INTERVAL_COMBO, PresentIntervalName(interval), LPARAM(interval));
    }
    ComboSelectByData(IDC_PRESENT_INTERVAL_COMBO, LPARAM(settings.CurrentPresentInterval()));
    ComboSelectFirstIfNone(IDC_PRESENT_INTERVAL_COMBO);
}

void DisplaySettingsDialog::DepthStencilChanged() {
    DeviceCombination* combination = settings.CurrentCombination();
    if (!combination || !ComboHasSelection(IDC_DEPTH_STENCIL_FORMAT_COMBO))
        return;
    const auto format = D3DFORMAT(ComboSelectedData(IDC_DEPTH_STENCIL_FORMAT_COMBO));
    if (catalog->usesDepthBuffer)
        settings.SetCurrentDepthStencilFormat(format);

    ComboClear(IDC_MULTISAMPLE_COMBO);
    for (UINT i = 0; i < combination->multisampleTypes->Count(); ++i) {
        const auto type = *static_cast<D3DMULTISAMPLE_TYPE*>(combination->multisampleTypes->Get(i));
        const DepthMultisampleConflict pair = {format, type};
        if (combination->conflicts->Contains(&pair))
            continue;
        ComboAdd(IDC_MULTISAMPLE_COMBO, MultisampleTypeName(type), type);
    }
    ComboSelectByData(IDC_MULTISAMPLE_COMBO, settings.CurrentMultisampleType());
    ComboSelectFirstIfNone(IDC_MULTISAMPLE_COMBO);
}

void DisplaySettingsDialog::MultisampleTypeChanged() {
    DeviceCombination* combination = settings.CurrentCombination();
    if (!combination || !ComboHasSelection(IDC_MULTISAMPLE_COMBO))
        return;
    const auto type = D3DMULTISAMPLE_TYPE(ComboSelectedData(IDC_MULTISAMPLE_COMBO));
    settings.SetCurrentMultisampleType(type);

    DWORD levels = 0;
    for (UINT i = 0; i < combination->multisampleTypes->Count(); ++i) {
        if (*static_cast<D3DMULTISAMPLE_TYPE*>(combination->multisampleTypes->Get(i)) == type) {
            levels = *static_cast<DWORD*>(combination->multisampleQualities->Get(i));
            break;
        }
    }
    ComboClear(IDC_MULTISAMPLE_QUALITY_COMBO);
    for (DWORD quality = 0; quality < levels; ++quality) {
        char text[16];
        std::snprintf(text, sizeof text, "%d", int(quality));
        ComboAdd(IDC_MULTISAMPLE_QUALITY_COMBO, text, LPARAM(quality));
    }
    ComboSelectByData(IDC_MULTISAMPLE_QUALITY_COMBO, LPARAM(settings.CurrentMultisampleQuality()));
    ComboSelectFirstIfNone(IDC_MULTISAMPLE_QUALITY_COMBO);
}

void DisplaySettingsDialog::MultisampleQualityChanged() {
    if (ComboHasSelection(IDC_MULTISAMPLE_QUALITY_COMBO))
        settings.SetCurrentMultisampleQuality(DWORD(ComboSelectedData(IDC_MULTISAMPLE_QUALITY_COMBO)));
}

void DisplaySettingsDialog::VertexProcessingChanged() {
    if (ComboHasSelection(IDC_VERTEX_PROCESSING_COMBO))
        settings.SetCurrentVertexProcessing(VertexProcessing(ComboSelectedData(IDC_VERTEX_PROCESSING_COMBO)));
}

void DisplaySettingsDialog::PresentIntervalChanged() {
    if (ComboHasSelection(IDC_PRESENT_INTERVAL_COMBO))
        settings.SetCurrentPresentInterval(UINT(ComboSelectedData(IDC_PRESENT_INTERVAL_COMBO)));
}

// ---------------------------------------------------------------- combo operations

void DisplaySettingsDialog::ComboAdd(int id, const char* text, LPARAM data) {
    const LRESULT index = SendDlgItemMessageA(window, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    if (index >= 0)
        SendDlgItemMessageA(window, id, CB_SETITEMDATA, WPARAM(index), data);
}

void DisplaySettingsDialog::ComboSelect(int id, int index) {
    SendDlgItemMessageA(window, id, CB_SETCURSEL, WPARAM(index), 0);
    // Posted, not sent: the handler of this list runs after the current one.
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

void DisplaySettingsDialog::ComboSelectByData(int id, LPARAM data) {
    const int count = ComboCount(id);
    for (int i = 0; i < count; ++i) {
        if (SendDlgItemMessageA(window, id, CB_GETITEMDATA, WPARAM(i), 0) == data) {
            ComboSelect(id, i);
            return;
        }
    }
}

LPARAM DisplaySettingsDialog::ComboSelectedData(int id) {
    const LRESULT index = SendDlgItemMessageA(window, id, CB_GETCURSEL, 0, 0);
    if (index < 0)
        return 0;
    return SendDlgItemMessageA(window, id, CB_GETITEMDATA, WPARAM(index), 0);
}

bool DisplaySettingsDialog::ComboHasSelection(int id) {
    return SendDlgItemMessageA(window, id, CB_GETCURSEL, 0, 0) >= 0;
}

int DisplaySettingsDialog::ComboCount(int id) { return int(SendDlgItemMessageA(window, id, CB_GETCOUNT, 0, 0)); }

void DisplaySettingsDialog::ComboClear(int id) { SendDlgItemMessageA(window, id, CB_RESETCONTENT, 0, 0); }

bool DisplaySettingsDialog::ComboContainsText(int id, const char* text) {
    const int count = ComboCount(id);
    for (int i = 0; i < count; ++i) {
        const LRESULT length = SendDlgItemMessageA(window, id, CB_GETLBTEXTLEN, WPARAM(i), 0);
        if (length < 0 || length >= kMaxComparedText)
            continue;
        char item[kMaxComparedText];
        SendDlgItemMessageA(window, id, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(item));
        if (std::strcmp(item, text) == 0)
            return true;
    }
    return false;
}

void DisplaySettingsDialog::ComboSelectFirstIfNone(int id) {
    if (!ComboHasSelection(id) && ComboCount(id) > 0)
        ComboSelect(id, 0);
}
