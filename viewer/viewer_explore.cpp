// The viewer's features beyond the single still picture: the mode chosen
// from the View menu or keys 1 to 5, its vibration (Space), the mouse's turn
// and zoom, the view's reset (Home, double click) and the saved picture
// (Ctrl+S). The fifth mode, still, at the default camera is the start frame,
// drawn from the published surface exactly as before anything was chosen.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32/commdlg.h"
#include "platform/win32/winbase.h"
#include "viewer/frame_picture.h"
#include "viewer/surface_renderer.h"
#include "viewer/viewer_app.h"

ModeSurface ViewerApp::ShownSurface() const {
    const ModeSurface& published = PublishedModeSurface();
    if (shownVertices.empty())
        return published;
    return {published.triangles, const_cast<ModeVertex*>(shownVertices.data()), published.triangleCount,
            published.vertexCount};
}

void ViewerApp::UpdateShownSurface() {
    const ComputedModes& modes = PublishedComputedModes();
    const ModeSurface& published = PublishedModeSurface();
    if (shownMode < 1 || shownMode > int(modes.modes.size()))
        return;
    const std::vector<float>& heights = modes.modes[shownMode - 1].heights;
    if (published.vertexCount <= 0 || int(heights.size()) != published.vertexCount)
        return;
    const double frequency = ModeFrequency(modes, shownMode);
    shownVertices.resize(size_t(published.vertexCount));
    for (int i = 0; i < published.vertexCount; ++i)
        shownVertices[i] = {published.vertices[i].x, published.vertices[i].y,
                            VibratingHeight(heights[i], frequency, animationTime)};

    // The buffer keeps its size and layout; only its contents follow the heights.
    if (!surfaceVertexBuffer)
        return;
    void* data = nullptr;
    if (SUCCEEDED(surfaceVertexBuffer->Lock(0, 0, &data, 0))) {
        FillSurfaceVertices(ShownSurface(), static_cast<SurfaceVertex*>(data));
        surfaceVertexBuffer->Unlock();
    }
}

void ViewerApp::ShowMode(int mode) {
    if (mode < 1 || mode > int(PublishedComputedModes().modes.size()))
        return;
    shownMode = mode;
    modeLineShown = true;
    UpdateShownSurface();
    CheckViewMenu();
}

void ViewerApp::ToggleAnimation() {
    if (PublishedComputedModes().modes.empty())
        return;
    animating = !animating;
    modeLineShown = true;
    CheckViewMenu();
}

void ViewerApp::ShowVibrationAt(double seconds) {
    animationTime = seconds;
    modeLineShown = true;
    UpdateShownSurface();
}

void ViewerApp::ResetView() {
    rotationX = 0.0f;
    rotationY = 0.0f;
    cameraDistance = DefaultCameraDistance;
    if (device)
        SetSurfaceView(device, cameraDistance);
}

void ViewerApp::CheckViewMenu() {
    // In full screen the menu bar is put aside, and comes back as it was left.
    HMENU menu = window ? GetMenu(window) : nullptr;
    if (!menu)
        menu = savedMenu;
    if (!menu)
        return;
    CheckMenuRadioItem(menu, IDM_SHOW_MODE_1, IDM_SHOW_MODE_5, IDM_SHOW_MODE_1 + shownMode - 1, MF_BYCOMMAND);
    CheckMenuItem(menu, IDM_ANIMATE, MF_BYCOMMAND | (animating ? MF_CHECKED : MF_UNCHECKED));
}

void ViewerApp::UpdateExploration() {
    if (animating) {
        animationTime = animationTime + elapsedTime;
        UpdateShownSurface();
    }
    if (savePictureRequested) {
        savePictureRequested = false;
        SavePicture();
    }
}

bool ViewerApp::HandleExploreMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        const WORD command = LOWORD(wParam);
        if (command >= IDM_SHOW_MODE_1 && command <= IDM_SHOW_MODE_5)
            ShowMode(command - IDM_SHOW_MODE_1 + 1);
        else if (command == IDM_ANIMATE)
            ToggleAnimation();
        else if (command == IDM_RESET_VIEW)
            ResetView();
        else if (command == IDM_SAVE_PICTURE)
            // Served by the next frame, outside the menu's own handling.
            savePictureRequested = true;
        else
            return false;
        return true;
    }
    case WM_LBUTTONDOWN:
        dragging = true;
        dragX = GET_X_LPARAM(lParam);
        dragY = GET_Y_LPARAM(lParam);
        return false;
    case WM_MOUSEMOVE:
        // A release outside the window may never have been seen.
        if (dragging && (wParam & MK_LBUTTON)) {
            const int x = GET_X_LPARAM(lParam);
            const int y = GET_Y_LPARAM(lParam);
            TurnByDrag(&rotationX, &rotationY, x - dragX, y - dragY);
            dragX = x;
            dragY = y;
        } else {
            dragging = false;
        }
        return false;
    case WM_LBUTTONUP:
        dragging = false;
        return false;
    case WM_LBUTTONDBLCLK:
        dragging = false;
        ResetView();
        return false;
    case WM_MOUSEWHEEL:
        cameraDistance = ZoomedCameraDistance(cameraDistance, GET_WHEEL_DELTA_WPARAM(wParam));
        if (device)
            SetSurfaceView(device, cameraDistance);
        return false;
    default:
        return false;
    }
}

void ViewerApp::SavePicture() {
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "vibrolane-mode%d.png", shownMode);
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);

    OPENFILENAMEA dialog;
    std::memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window;
    dialog.lpstrFilter = "PNG pictures (*.png)\0*.png\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.lpstrInitialDir = folder;
    dialog.lpstrTitle = "Save picture";
    dialog.lpstrDefExt = "png";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;

    Pause(true);
    const BOOL chosen = GetSaveFileNameA(&dialog);
    Pause(false);
    std::string why;
    if (!chosen) {
        const DWORD error = CommDlgExtendedError();
        if (error == 0)
            return;  // cancelled
        why = error == FNERR_INVALIDFILENAME  ? "the file name cannot be used"
              : error == FNERR_BUFFERTOOSMALL ? "the path is too long"
                                              : "the file dialog could not be shown";
        std::fprintf(stderr, "%s: cannot save the picture: %s\n", windowTitle, why.c_str());
        MessageBox(window, ("The picture could not be saved: " + why + ".").c_str(), windowTitle, MB_ICONERROR);
        return;
    }
    // The frame as the window shows it, overlay included, at the window's size.
    if (device && RenderScene() == S_OK && SaveFramePicture(device, path, &why))
        return;
    if (why.empty())
        why = "the 3-D device is not available";
    std::fprintf(stderr, "%s: cannot save the picture to %s: %s\n", windowTitle, path, why.c_str());
    MessageBox(window, ("The picture could not be saved to\n" + std::string(path) + "\n\n" + why).c_str(), windowTitle,
               MB_ICONERROR);
}
