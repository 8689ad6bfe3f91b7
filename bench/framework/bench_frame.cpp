// The frame driven by the one-triangle application on a real window:
//  - CreateToFirstFrame: from Create to the first presented frame (HAL, REF);
//  - Loop: frames per second of Run, presenting into the window every frame,
//    windowed at 500 x 375 and full screen at the screen's mode;
//  - Minimised: processor time the loop uses while the window is minimised
//    (it blocks in GetMessage, so it should use next to none).
// Needs an X display with GLX: xvfb-run -a -s "-screen 0 1280x1024x24 +extension GLX".
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <thread>

#include "mode/mode_surface.h"
#include "tests/framework/triangle_app.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kMinimisedSeconds = 2.0;

ModeTriangle triangle = {0, 1, 2};
ModeVertex vertices[3] = {};

void Drain() {
    MSG message;
    while (PeekMessage(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

void Close(std::unique_ptr<TriangleApp>& app) {
    if (app->Window())
        SendMessage(app->Window(), WM_CLOSE, 0, 0);
    app.reset();
    Drain();
}

std::unique_ptr<TriangleApp> Make(D3DDEVTYPE type, DWORD width, DWORD height, bool fullscreen) {
    auto app = std::make_unique<TriangleApp>();
    app->acceptHal = type == D3DDEVTYPE_HAL;
    app->SetStart(width, height, fullscreen);
    return app;
}

bool Usable(benchmark::State& state, D3DDEVTYPE type) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        state.SkipWithError("needs an X display (xvfb-run)");
        return false;
    }
    if (type == D3DDEVTYPE_HAL) {
        IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
        D3DCAPS9 caps;
        const bool hal = d3d && SUCCEEDED(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps));
        if (d3d)
            d3d->Release();
        if (!hal) {
            state.SkipWithError("no HAL here");
            return false;
        }
    }
    return true;
}

void CreateToFirstFrame(benchmark::State& state) {
    const auto type = D3DDEVTYPE(state.range(0));
    if (!Usable(state, type))
        return;
    for (auto _ : state) {
        auto app = Make(type, 500, 375, false);
        const auto start = Clock::now();
        if (FAILED(app->Create(GetModuleHandleA(nullptr)))) {
            state.SkipWithError("Create failed");
            break;
        }
        // The first step after Create may find no time passed yet.
        while (app->counts.renderScene == 0)
            app->StepFrame();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        Close(app);
    }
}

void Loop(benchmark::State& state) {
    const auto type = D3DDEVTYPE(state.range(0));
    const bool fullscreen = state.range(1) != 0;
    if (!Usable(state, type))
        return;
    const int frames = type == D3DDEVTYPE_HAL ? 300 : 200;
    double totalFrames = 0, totalSeconds = 0;
    UINT width = 0, height = 0;
    for (auto _ : state) {
        auto app = Make(type, 500, 375, fullscreen);
        if (FAILED(app->Create(GetModuleHandleA(nullptr)))) {
            state.SkipWithError("Create failed");
            break;
        }
        width = app->BackBuffer().Width;
        height = app->BackBuffer().Height;
        Clock::time_point start;
        app->onFrame = [&](TriangleApp& a) {
            if (a.counts.updateScene == 1)
                start = Clock::now();
            if (a.counts.updateScene == frames + 1)
                PostMessage(a.Window(), WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
        };
        app->Run();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        totalFrames += frames;
        totalSeconds += seconds;
        app.reset();
        Drain();
    }
    state.counters["fps"] = totalSeconds > 0 ? totalFrames / totalSeconds : 0;
    state.counters["width"] = width;
    state.counters["height"] = height;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void Minimised(benchmark::State& state) {
    const auto type = D3DDEVTYPE(state.range(0));
    if (!Usable(state, type))
        return;
    double loopCpu = 0, processCpu = 0, wall = 0;
    for (auto _ : state) {
        auto app = Make(type, 500, 375, false);
        if (FAILED(app->Create(GetModuleHandleA(nullptr)))) {
            state.SkipWithError("Create failed");
            break;
        }
        double threadStart = 0, processStart = 0;
        Clock::time_point start;
        app->onFrame = [&](TriangleApp& a) {
            if (a.counts.updateScene != 3)
                return;
            // What the frame does when the window is minimised; the loop
            // then waits in GetMessage until another thread posts the exit.
            SendMessage(a.Window(), WM_SIZE, SIZE_MINIMIZED, 0);
            threadStart = ThreadCpuSeconds();
            processStart = ProcessCpuSeconds();
            start = Clock::now();
            const HWND window = a.Window();
            std::thread([window] {
                std::this_thread::sleep_for(std::chrono::duration<double>(kMinimisedSeconds));
                PostMessage(window, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
            }).detach();
        };
        app->Run();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        loopCpu += ThreadCpuSeconds() - threadStart;
        processCpu += ProcessCpuSeconds() - processStart;
        wall += seconds;
        state.SetIterationTime(seconds);
        app.reset();
        Drain();
    }
    state.counters["loop_cpu_percent"] = wall > 0 ? 100.0 * loopCpu / wall : 0;
    state.counters["process_cpu_percent"] = wall > 0 ? 100.0 * processCpu / wall : 0;
}

}  // namespace

BENCHMARK(CreateToFirstFrame)
    ->ArgName("device")
    ->Arg(D3DDEVTYPE_HAL)
    ->Arg(D3DDEVTYPE_REF)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(Loop)
    ->ArgNames({"device", "fullscreen"})
    ->Args({D3DDEVTYPE_HAL, 0})
    ->Args({D3DDEVTYPE_REF, 0})
    ->Args({D3DDEVTYPE_HAL, 1})
    ->Args({D3DDEVTYPE_REF, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(Minimised)->ArgName("device")->Arg(D3DDEVTYPE_REF)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char** argv) {
    PublishModeSurface({&triangle, vertices, 1, 3});
    InitCommonControls();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
