// The real program on a real Wayland compositor: weston's headless backend
// (with its pixman renderer, so that it can take screenshots) and desktop
// shell, and Qt's Wayland platform. The window must open and both devices
// must present frame after frame, as the compositor's screenshots show.
// Skipped where weston or its screenshot client is not installed.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/d3d9/reference_scenes.h"
#include "tests/viewer/program_harness.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using reference_scenes::Image;
using program_harness::readFile;
using program_harness::start;
using program_harness::stop;

namespace {

// Nothing of X for the compositor and the program: Wayland alone.
const std::vector<std::string> kNoX = {"DISPLAY", "QT_SCALE_FACTOR"};

std::vector<std::string> withoutX(std::vector<std::string> environment) {
    environment.insert(environment.begin(), kNoX.begin(), kNoX.end());
    return environment;
}

// The program's surface, the clear colour and the overlay's text, on the
// compositor's output.
bool showsTheProgram(const Image& image) {
    int clear = 0, red = 0, yellow = 0;
    for (std::uint32_t p : image.pixels) {
        const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        clear += (p & 0xFFFFFF) == 0x0080FF;
        red += r >= 96 && g <= 64 && b <= 32;
        yellow += r >= 200 && g >= 200 && b <= 96;
    }
    return clear > 20000 && red > 500 && yellow > 100;
}

class Wayland : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v weston >/dev/null && command -v weston-screenshooter >/dev/null") != 0)
            GTEST_SKIP() << "weston is not installed";
        char pattern[] = "/tmp/vl_wayland_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        runtime_ = dir_ + "/runtime";
        ASSERT_EQ(mkdir(runtime_.c_str(), 0700), 0);
        weston_ = start({"weston", "--backend=headless-backend.so", "--use-pixman", "--socket=vl-wayland",
                         "--idle-time=0", "--width=800", "--height=600", "--debug"},
                        withoutX({"XDG_RUNTIME_DIR=" + runtime_}), dir_);
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (!fs::exists(runtime_ + "/vl-wayland") && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(fs::exists(runtime_ + "/vl-wayland")) << readFile(dir_ + "/stderr.txt");
    }
    void TearDown() override {
        stop(weston_);
        if (!dir_.empty())
            fs::remove_all(dir_);
    }

    // The compositor's picture of its whole output.
    bool shoot(Image* image) {
        const std::string folder = dir_ + "/shot" + std::to_string(++shots_);
        fs::create_directory(folder);
        waitpid(start({"timeout", "10", "weston-screenshooter"},
                      withoutX({"XDG_RUNTIME_DIR=" + runtime_, "WAYLAND_DISPLAY=vl-wayland"}), folder),
                nullptr, 0);
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().extension() == ".png")
                return reference_scenes::loadPng(entry.path().string(), image);
        return false;
    }

    std::string dir_, runtime_;
    pid_t weston_ = -1;
    int shots_ = 0;
};

TEST_F(Wayland, TheWindowOpensAndBothDevicesPresentFrameAfterFrame) {
    const struct {
        const char* device;
        std::vector<std::string> environment;
    } cases[] = {
        {"HAL", {}},
        // No OpenGL at all (no EGL vendor library): HAL is not offered, and
        // the program starts on the reference device.
        {"REF", {"__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        const std::string run = dir_ + "/" + c.device;
        fs::create_directory(run);
        std::vector<std::string> environment =
            withoutX({"XDG_RUNTIME_DIR=" + runtime_, "WAYLAND_DISPLAY=vl-wayland", "QT_QPA_PLATFORM=wayland",
                      "XDG_CONFIG_HOME=" + run + "/config"});
        environment.insert(environment.end(), c.environment.begin(), c.environment.end());
        const pid_t program = start({VL_PROGRAM}, environment, run);

        Image first, later;
        const auto end = Clock::now() + std::chrono::seconds(30);
        bool shown = false;
        while (!shown && Clock::now() < end && waitpid(program, nullptr, WNOHANG) == 0)
            shown = shoot(&first) && showsTheProgram(first);
        EXPECT_TRUE(shown) << readFile(run + "/stderr.txt");
        // The statistics line changes every second: frames go on coming.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_TRUE(shoot(&later) && showsTheProgram(later));
        EXPECT_TRUE(first.pixels != later.pixels) << "no new frame in one and a half seconds";

        // Mesa's EGL is loaded exactly when HAL draws (the sanitizer build
        // preloads the GL driver itself into every test, so that says less).
        const std::string maps = readFile("/proc/" + std::to_string(program) + "/maps");
        EXPECT_EQ(maps.find("libEGL_mesa") != std::string::npos, std::string(c.device) == "HAL");
        stop(program);
        // HAL swaps its frames onto the window's own OpenGL surface there
        // too, rather than falling back to pictures.
        EXPECT_EQ(readFile(run + "/stderr.txt").find("no OpenGL surface"), std::string::npos)
            << readFile(run + "/stderr.txt");
        EXPECT_EQ(readFile(run + "/debug-file.txt"), readFile(VL_SOURCE_DIR "/tests/golden/startup-debug-file.txt"));
    }
}

}  // namespace
