// From process start to the first presented frame (the computation
// included), then frames per second and triangles per second, and the peak
// resident memory: the program's own start-up order, entry point to Run, in a
// child process per measurement, with the device type and presentation
// chosen through the viewer's device acceptance and the frame's start flag.
//
//   xvfb-run -a -s "-screen 0 1280x1024x24 +extension GLX" build/bench/viewer/bench_viewer
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/win32/commctrl.h"
#include "mode/mode_surface.h"
#include "startup/startup_sequence.h"
#include "viewer/viewer_app.h"

namespace fs = std::filesystem;

namespace {

constexpr double MeasuredSeconds = 3.0;

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Result {
    double firstFrameMs = 0, fps = 0, tps = 0, peakRssMb = 0;
    bool ok = false;
};

// The viewer on one device type only; closes itself after the measurement.
class BenchViewer : public ViewerApp {
public:
    BenchViewer(D3DDEVTYPE type, bool fullscreen, bool animated, double processStart)
        : type_(type), animated_(animated), processStart_(processStart) {
        startFullscreen = fullscreen;
    }
    // Animated, every frame rebuilds the vertex buffer from the vibrating heights.
    HRESULT SceneStartup() override {
        const HRESULT hr = ViewerApp::SceneStartup();
        if (animated_)
            ToggleAnimation();
        return hr;
    }
    HRESULT AcceptDevice(D3DCAPS9* caps, DWORD flags, D3DFORMAT format) override {
        if (caps->DeviceType != type_)
            return E_FAIL;
        return ViewerApp::AcceptDevice(caps, flags, format);
    }
    HRESULT RenderScene() override {
        if (!closing_) {
            ++frames_;
            const double t = now();
            if (frames_ == 2) {  // the first frame has been presented
                firstFrame_ = t;
            } else if (frames_ > 2 && t - firstFrame_ >= MeasuredSeconds) {
                result.firstFrameMs = (firstFrame_ - processStart_) * 1000.0;
                result.fps = double(frames_ - 2) / (t - firstFrame_);
                result.tps = result.fps * PublishedModeSurface().triangleCount;
                result.ok = std::strncmp(deviceStatsText, type_ == D3DDEVTYPE_HAL ? "HAL" : "REF", 3) == 0;
                closing_ = true;
                PostMessage(window, WM_CLOSE, 0, 0);
            }
        }
        return ViewerApp::RenderScene();
    }
    Result result;

private:
    D3DDEVTYPE type_;
    bool animated_;
    double processStart_;
    double firstFrame_ = 0;
    long frames_ = 0;
    bool closing_ = false;
};

// The child: the entry point's order, with the bench's viewer.
int runChild(D3DDEVTYPE type, bool fullscreen, bool animated, double processStart, const char* resultPath) {
    if (!ComputeAndPublishModeSurface(ModeComputation, std::cerr))
        return 1;
    Result result;
    {
        BenchViewer app(type, fullscreen, animated, processStart);
        InitCommonControls();
        if (FAILED(app.Create(GetModuleHandleA(nullptr))))
            return 1;
        app.Run();
        result = app.result;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    result.peakRssMb = double(usage.ru_maxrss) / 1024.0;
    std::ofstream(resultPath) << result.ok << ' ' << result.firstFrameMs << ' ' << result.fps << ' ' << result.tps
                              << ' ' << result.peakRssMb << '\n';
    return result.ok ? 0 : 1;
}

std::string self;

Result measure(const char* type, bool fullscreen, bool animated) {
    char pattern[] = "/tmp/vl_bench_viewer_XXXXXX";
    Result result;
    if (!mkdtemp(pattern))
        return result;
    const std::string dir = pattern;
    const std::string resultPath = dir + "/result.txt";
    const double start = now();
    const pid_t child = fork();
    if (child == 0) {
        // Its own folder for debug-file.txt and the registry; the operator
        // it prints is of no interest here.
        if (chdir(dir.c_str()) != 0 || !freopen("/dev/null", "w", stdout))
            _exit(127);
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        char startText[64];
        std::snprintf(startText, sizeof startText, "%.9f", start);
        execl(self.c_str(), self.c_str(), "--child", type, fullscreen ? "fullscreen" : "windowed",
              animated ? "animated" : "still", startText, resultPath.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::ifstream in(resultPath);
    in >> result.ok >> result.firstFrameMs >> result.fps >> result.tps >> result.peakRssMb;
    result.ok = result.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    fs::remove_all(dir);
    return result;
}

void BM_Viewer(benchmark::State& state, const char* type, bool fullscreen, bool animated = false) {
    for (auto _ : state) {
        const Result r = measure(type, fullscreen, animated);
        if (!r.ok) {
            state.SkipWithError("the program could not run on this device here");
            return;
        }
        state.SetIterationTime(r.firstFrameMs / 1000.0);
        state.counters["first_frame_ms"] = r.firstFrameMs;
        state.counters["fps"] = r.fps;
        state.counters["TPS"] = r.tps;
        state.counters["peak_rss_MB"] = r.peakRssMb;
    }
}

// The viewer's own drawing alone (RenderScene: clear, surface, overlay) on a
// windowless device, without the frame, the message loop or presentation.
class HookViewer : public ViewerApp {
public:
    void Frames(benchmark::State& state, D3DDEVTYPE type, UINT width, UINT height, bool animated) {
        IDirect3D9* object = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = width;
        pp.BackBufferHeight = height;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.Windowed = TRUE;
        pp.EnableAutoDepthStencil = TRUE;
        pp.AutoDepthStencilFormat = D3DFMT_D24X8;
        if (!object || FAILED(object->CreateDevice(0, type, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device))) {
            state.SkipWithError("no such device here");
            if (object)
                object->Release();
            return;
        }
        backBufferDesc.Width = width;
        backBufferDesc.Height = height;
        backBufferDesc.Format = D3DFMT_X8R8G8B8;
        std::strcpy(deviceStatsText, "REF (hw vp)");
        std::strcpy(frameStatsText, "500.00 fps (500x375), X8R8G8B8 (D24X8); 930000.00 TPS");
        CreateDeviceObjects();
        RestoreVolatileObjects();
        userInput.axisLeftRight = 1.0f;
        elapsedTime = 0.001f;
        if (animated)
            ToggleAnimation();
        for (auto _ : state) {
            UpdateScene();
            RenderScene();
        }
        state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
        ReleaseVolatileObjects();
        DestroyDeviceObjects();
        device->Release();
        device = nullptr;
        object->Release();
    }
};

void BM_RenderSceneOnly(benchmark::State& state, D3DDEVTYPE type, UINT width, UINT height, bool animated = false) {
    static bool computed = false;
    if (!computed) {
        std::streambuf* out = std::cout.rdbuf(nullptr);
        PublishModeSurface(ModeComputation());
        std::cout.rdbuf(out);
        computed = true;
    }
    HookViewer app;
    app.Frames(state, type, width, height, animated);
}
BENCHMARK_CAPTURE(BM_RenderSceneOnly, REF_500x375, D3DDEVTYPE_REF, 500, 375)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RenderSceneOnly, REF_1280x1024, D3DDEVTYPE_REF, 1280, 1024)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RenderSceneOnly, REF_500x375_animated, D3DDEVTYPE_REF, 500, 375, true)->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(BM_Viewer, HAL_window_500x375, "hal", false)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Viewer, REF_window_500x375, "ref", false)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
// The vibrating surface: its frame rate against the still one's above.
BENCHMARK_CAPTURE(BM_Viewer, HAL_window_500x375_animated, "hal", false, true)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Viewer, REF_window_500x375_animated, "ref", false, true)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Viewer, HAL_fullscreen, "hal", true)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Viewer, REF_fullscreen, "ref", true)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 7 && std::strcmp(argv[1], "--child") == 0)
        return runChild(std::strcmp(argv[2], "hal") == 0 ? D3DDEVTYPE_HAL : D3DDEVTYPE_REF,
                        std::strcmp(argv[3], "fullscreen") == 0, std::strcmp(argv[4], "animated") == 0,
                        std::atof(argv[5]), argv[6]);
    self = fs::read_symlink("/proc/self/exe").string();
    // A desktop's display server always has other clients. A bare Xvfb has
    // only ours, and resets itself each time the last one leaves, which would
    // make every child after the first wait for the reset before its first
    // request is answered: holding the display from here keeps it as on a
    // desktop.
    InitCommonControls();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
