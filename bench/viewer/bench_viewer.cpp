// From process start to the first presented frame (the computation
// included), then frames per second and triangles per second, processor
// time and the peak resident memory: the program's own start-up order, entry
// point to Run, in a child process per measurement, with the device type and
// presentation chosen through the viewer's device acceptance and the frame's
// start flag. The Present_* cases run HAL's two ways of presenting (straight
// to the window's OpenGL surface, and reading every frame back as before)
// alternately with the same binary, through the layer's test hook.
//
//   xvfb-run -a -s "-screen 0 1600x1280x24 +extension GLX" build/bench/viewer/bench_viewer
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/d3d9/driver_preload.h"
#include "platform/d3d9/test_hooks.h"
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

double processorSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Result {
    double firstFrameMs = 0, fps = 0, tps = 0, peakRssMb = 0;
    // Processor seconds per 1000 frames, and the share of one core used,
    // both over the measured frames only.
    double cpuPer1000 = 0, cpuLoad = 0;
    bool ok = false;
};

// How a child runs: device, full screen, the present path, vsync, size.
struct Setup {
    const char* type = "hal";
    bool fullscreen = false;
    bool readBack = false;
    bool vsync = false;
    bool animated = false;  // every frame rebuilds the vertex buffer from the vibrating heights
    int width = 500, height = 375;
};

// The viewer on one device type only; closes itself after the measurement.
class BenchViewer : public ViewerApp {
public:
    BenchViewer(D3DDEVTYPE type, const Setup& setup, double processStart)
        : type_(type), vsync_(setup.vsync), animated_(setup.animated), processStart_(processStart) {
        startFullscreen = setup.fullscreen;
        createWidth = DWORD(setup.width);
        createHeight = DWORD(setup.height);
    }
    HRESULT SceneStartup() override {
        // Windowed, the viewer takes the first interval offered: IMMEDIATE.
        if (vsync_) {
            settings.windowedPresentInterval = D3DPRESENT_INTERVAL_ONE;
            presentParams.PresentationInterval = D3DPRESENT_INTERVAL_ONE;
        }
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
                firstFrameCpu_ = processorSeconds();
            } else if (frames_ > 2 && t - firstFrame_ >= MeasuredSeconds) {
                const double cpu = processorSeconds() - firstFrameCpu_;
                result.firstFrameMs = (firstFrame_ - processStart_) * 1000.0;
                result.fps = double(frames_ - 2) / (t - firstFrame_);
                result.cpuPer1000 = cpu / double(frames_ - 2) * 1000.0;
                result.cpuLoad = cpu / (t - firstFrame_);
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
    bool vsync_;
    bool animated_;
    double processStart_;
    double firstFrame_ = 0;
    double firstFrameCpu_ = 0;
    long frames_ = 0;
    bool closing_ = false;
};

// The child: the entry point's order, with the bench's viewer.
int runChild(const Setup& setup, double processStart, const char* resultPath) {
    const D3DDEVTYPE type = std::strcmp(setup.type, "hal") == 0 ? D3DDEVTYPE_HAL : D3DDEVTYPE_REF;
    platform::d3d9::testing::SetHalPresentsByReadBack(setup.readBack);
    // As the program's entry point does: the driver loads while it computes.
    platform::hal::startGraphicsDriverPreload();
    if (!ComputeAndPublishModeSurface(ModeComputation, std::cerr))
        return 1;
    Result result;
    {
        BenchViewer app(type, setup, processStart);
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
                              << ' ' << result.peakRssMb << ' ' << result.cpuPer1000 << ' ' << result.cpuLoad
                              << '\n';
    return result.ok ? 0 : 1;
}

std::string self;

Result measure(const Setup& setup) {
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
        char startText[64], size[32];
        std::snprintf(startText, sizeof startText, "%.9f", start);
        std::snprintf(size, sizeof size, "%dx%d", setup.width, setup.height);
        execl(self.c_str(), self.c_str(), "--child", setup.type, setup.fullscreen ? "fullscreen" : "windowed",
              setup.readBack ? "readback" : "direct", setup.vsync ? "one" : "immediate",
              setup.animated ? "animated" : "still", size, startText, resultPath.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::ifstream in(resultPath);
    in >> result.ok >> result.firstFrameMs >> result.fps >> result.tps >> result.peakRssMb >> result.cpuPer1000 >>
        result.cpuLoad;
    result.ok = result.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    fs::remove_all(dir);
    return result;
}

void BM_Viewer(benchmark::State& state, const char* type, bool fullscreen, bool animated = false) {
    Setup setup;
    setup.type = type;
    setup.fullscreen = fullscreen;
    setup.animated = animated;
    for (auto _ : state) {
        const Result r = measure(setup);
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

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2.0;
}

// HAL windowed, the direct present and the read-back taking turns, so that
// the machine's mood of the moment weighs on both alike; medians of the runs.
void BM_Present(benchmark::State& state, int width, int height, bool vsync) {
    constexpr int kRuns = 3;
    std::vector<double> fps[2], cpu[2], load[2], first[2];
    for (auto _ : state) {
        for (int run = 0; run < kRuns; ++run)
            for (int readBack = 0; readBack < 2; ++readBack) {
                Setup setup;
                setup.readBack = readBack == 1;
                setup.vsync = vsync;
                setup.width = width;
                setup.height = height;
                const Result r = measure(setup);
                if (!r.ok) {
                    state.SkipWithError("HAL could not run here");
                    return;
                }
                fps[readBack].push_back(r.fps);
                cpu[readBack].push_back(r.cpuPer1000);
                load[readBack].push_back(r.cpuLoad * 100.0);
                first[readBack].push_back(r.firstFrameMs);
            }
    }
    const char* names[2] = {"direct_", "readback_"};
    for (int i = 0; i < 2; ++i) {
        const std::string n = names[i];
        state.counters[n + "fps"] = median(fps[i]);
        state.counters[n + "cpu_s_per_1000"] = median(cpu[i]);
        state.counters[n + "cpu_load_pct"] = median(load[i]);
        state.counters[n + "first_frame_ms"] = median(first[i]);
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

BENCHMARK_CAPTURE(BM_Present, HAL_500x375, 500, 375, false)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Present, HAL_1280x1024, 1280, 1024, false)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Present, HAL_500x375_ONE, 500, 375, true)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(BM_Viewer, HAL_window_500x375, "hal", false)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Viewer, REF_window_500x375, "ref", false)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
// The vibrating surface: its frame rate against the still one's above.
BENCHMARK_CAPTURE(BM_Viewer, HAL_window_500x375_animated, "hal", false, true)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Viewer, REF_window_500x375_animated, "ref", false, true)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Viewer, HAL_fullscreen, "hal", true)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Viewer, REF_fullscreen, "ref", true)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 10 && std::strcmp(argv[1], "--child") == 0) {
        Setup setup;
        setup.type = argv[2];
        setup.fullscreen = std::strcmp(argv[3], "fullscreen") == 0;
        setup.readBack = std::strcmp(argv[4], "readback") == 0;
        setup.vsync = std::strcmp(argv[5], "one") == 0;
        setup.animated = std::strcmp(argv[6], "animated") == 0;
        if (std::sscanf(argv[7], "%dx%d", &setup.width, &setup.height) != 2)
            return 2;
        return runChild(setup, std::atof(argv[8]), argv[9]);
    }
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
