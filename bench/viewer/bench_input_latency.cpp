// Input latency of the running viewer: from a key event reaching the render
// window (the X server's own event, made with XTest) to the frame whose
// UserInput shows it, in frames and microseconds, on REF and on HAL at the
// viewer's 500 x 375. Needs an X display: run under xvfb-run.
#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "core/disk_mesh.h"
#include "mode/mode_surface.h"
#include "viewer/viewer_app.h"

namespace {

using Clock = std::chrono::steady_clock;

class LatencyViewer : public ViewerApp {
public:
    explicit LatencyViewer(D3DDEVTYPE type) : wanted(type) {}

    HRESULT AcceptDevice(D3DCAPS9* caps, DWORD flags, D3DFORMAT format) override {
        if (caps->DeviceType != wanted)
            return E_FAIL;
        return ViewerApp::AcceptDevice(caps, flags, format);
    }
    // The key's message is dispatched as the window receives the event.
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        if ((message == WM_KEYDOWN || message == WM_KEYUP) && wParam == VK_LEFT && arrival)
            arrival();
        return ViewerApp::HandleMessage(window, message, wParam, lParam);
    }
    HRESULT UpdateScene() override {
        const HRESULT hr = ViewerApp::UpdateScene();
        ++frames;
        if (watch)
            watch(userInput);
        return hr;
    }
    // One turn of the program's main loop.
    void Turn() {
        MSG message;
        if (PeekMessage(&message, nullptr, 0U, 0U, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessage(&message);
        } else if (active) {
            StepFrame();
        }
    }
    HWND Window() const { return window; }
    bool Active() const { return active; }
    D3DDEVTYPE DeviceType() const { return settings.CurrentDeviceType(); }
    UINT Width() const { return backBufferDesc.Width; }
    UINT Height() const { return backBufferDesc.Height; }

    D3DDEVTYPE wanted;
    long frames = 0;
    std::function<void(const UserInput&)> watch;
    std::function<void()> arrival;
};

void PublishSurfaceOnce() {
    static bool published = false;
    if (published)
        return;
    published = true;
    // A smooth bump over the real mesh: the same vertex and triangle counts
    // as the computed mode, without the computation.
    const DiskMesh mesh = generate_disk_mesh(6, 10);
    const int interior = static_cast<int>(mesh.points.size()) - 6 * 10;
    DenseVector heights(interior);
    for (int i = 0; i < interior; ++i) {
        const double x = mesh.points[static_cast<std::size_t>(i)].first;
        const double y = mesh.points[static_cast<std::size_t>(i)].second;
        heights(i) = 1.0 - (x * x + y * y);
    }
    PublishModeSurface(BuildModeSurface(mesh, heights));
}

void KeyToUserInput(benchmark::State& state, D3DDEVTYPE type) {
    Display* x = XOpenDisplay(nullptr);
    if (!x) {
        state.SkipWithError("needs an X display (run under xvfb-run)");
        return;
    }
    PublishSurfaceOnce();
    auto* viewer = new LatencyViewer(type);
    if (FAILED(viewer->Create(GetModuleHandleA(nullptr))) || viewer->DeviceType() != type) {
        state.SkipWithError(type == D3DDEVTYPE_HAL ? "no HAL device here" : "no REF device");
        XCloseDisplay(x);
        delete viewer;
        return;
    }
    SetForegroundWindow(viewer->Window());
    const auto settleUntil = Clock::now() + std::chrono::milliseconds(500);
    while (Clock::now() < settleUntil)
        viewer->Turn();

    const KeyCode left = XKeysymToKeycode(x, XK_Left);
    Clock::time_point arrived;
    long framesAtArrival = 0;
    bool seen = false;
    viewer->arrival = [&] {
        if (!seen) {
            seen = true;
            arrived = Clock::now();
            framesAtArrival = viewer->frames;
        }
    };
    double frameSum = 0;
    double microsecondSum = 0;
    double fromSendSum = 0;
    long samples = 0;
    bool down = false;
    for (auto _ : state) {
        down = !down;
        const float wanted = down ? 1.0f : 0.0f;
        seen = false;
        bool changed = false;
        Clock::time_point shown;
        long framesAtChange = 0;
        viewer->watch = [&](const UserInput& input) {
            if (seen && !changed && input.axisLeftRight == wanted) {
                changed = true;
                shown = Clock::now();
                framesAtChange = viewer->frames;
            }
        };
        const Clock::time_point sent = Clock::now();
        XTestFakeKeyEvent(x, left, down ? True : False, CurrentTime);
        XFlush(x);
        const auto giveUp = Clock::now() + std::chrono::seconds(5);
        while (!changed && Clock::now() < giveUp)
            viewer->Turn();
        viewer->watch = nullptr;
        if (!changed) {
            state.SkipWithError("the key never reached UserInput");
            break;
        }
        const double microseconds = std::chrono::duration<double, std::micro>(shown - arrived).count();
        state.SetIterationTime(microseconds / 1e6);
        frameSum += static_cast<double>(framesAtChange - framesAtArrival);
        microsecondSum += microseconds;
        fromSendSum += std::chrono::duration<double, std::micro>(shown - sent).count();
        ++samples;
    }
    if (down) {
        XTestFakeKeyEvent(x, left, False, CurrentTime);
        XFlush(x);
    }
    viewer->arrival = nullptr;
    if (samples > 0) {
        state.counters["frames"] = frameSum / static_cast<double>(samples);
        state.counters["latency_us"] = microsecondSum / static_cast<double>(samples);
        state.counters["from_xtest_us"] = fromSendSum / static_cast<double>(samples);
        state.counters["width"] = viewer->Width();
        state.counters["height"] = viewer->Height();
    }
    SendMessage(viewer->Window(), WM_CLOSE, 0, 0);
    for (int i = 0; i < 100; ++i)
        viewer->Turn();
    delete viewer;
    XCloseDisplay(x);
}

void BM_KeyToUserInput_REF(benchmark::State& state) { KeyToUserInput(state, D3DDEVTYPE_REF); }
void BM_KeyToUserInput_HAL(benchmark::State& state) { KeyToUserInput(state, D3DDEVTYPE_HAL); }

BENCHMARK(BM_KeyToUserInput_REF)->UseManualTime()->Iterations(40)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeyToUserInput_HAL)->UseManualTime()->Iterations(40)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    // The viewer's own window size, not one a user stored.
    char pattern[] = "/tmp/vl-bench-XXXXXX";
    const char* folder = mkdtemp(pattern);
    if (folder)
        setenv("XDG_CONFIG_HOME", folder, 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (folder) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    return 0;
}
