// vibrolane-snapshot run as a user runs it: its exit statuses and messages,
// the computation's output beside it, and its pictures against the golden
// ones, with pixel probes that say what must be where.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/platform/d3d9/reference_scenes.h"

namespace fs = std::filesystem;
using reference_scenes::Image;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct ToolRun {
    int status = -1;
    std::string err;
};

class Snapshot : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vl_snapshot_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the tool in the temporary folder, with no display at all.
    ToolRun run(const std::string& arguments) {
        const std::string command = "cd '" + dir_ + "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME='" +
                                    dir_ + "/config' '" VL_SNAPSHOT "' " + arguments + " >stdout.txt 2>stderr.txt";
        ToolRun r;
        const int raw = std::system(command.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.err = readFile(dir_ + "/stderr.txt");
        return r;
    }
    Image picture(const std::string& name) {
        Image image;
        EXPECT_TRUE(reference_scenes::loadPng(dir_ + "/" + name, &image)) << name;
        return image;
    }

    std::string dir_;
};

bool isClear(std::uint32_t p) { return (p & 0xFFFFFF) == 0x0080FF; }
bool isRed(std::uint32_t p) { return ((p >> 16) & 0xFF) >= 96 && ((p >> 8) & 0xFF) <= 64 && (p & 0xFF) <= 32; }
bool isBlue(std::uint32_t p) { return (p & 0xFF) >= 96 && ((p >> 16) & 0xFF) <= 32 && ((p >> 8) & 0xFF) <= 64; }
bool isYellow(std::uint32_t p) { return ((p >> 16) & 0xFF) >= 200 && ((p >> 8) & 0xFF) >= 200 && (p & 0xFF) <= 96; }

int count(const Image& image, int x0, int y0, int x1, int y1, bool (*what)(std::uint32_t)) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            n += what(image.at(x, y));
    return n;
}

TEST_F(Snapshot, WritesTheComputationsOutputAndAPicture) {
    const ToolRun r = run("");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir_ + "/stdout.txt"), readFile(VL_SOURCE_DIR "/tests/golden/startup-stdout.txt"));
    EXPECT_EQ(readFile(dir_ + "/debug-file.txt"), readFile(VL_SOURCE_DIR "/tests/golden/startup-debug-file.txt"));
    const Image image = picture("vibrolane.png");
    EXPECT_EQ(image.width, 500u);
    EXPECT_EQ(image.height, 375u);
}

TEST_F(Snapshot, FrontAndBehindMatchTheGoldenPicturesAndTheirProbes) {
    const struct {
        const char* arguments;
        const char* golden;
        bool (*topRight)(std::uint32_t);  // the bulge at the upper right
    } cases[] = {
        {"--output front.png", "front.png", isRed},
        // Turned by pi about y the back faces are drawn, lit, and the mode's
        // other half comes to the front.
        {"--rotate-y 3.14159265 --output behind.png", "behind.png", isBlue},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const ToolRun r = run(c.arguments);
        ASSERT_EQ(r.status, 0) << r.err;
        const Image image = picture(c.golden);
        ASSERT_EQ(image.width, 500u);
        ASSERT_EQ(image.height, 375u);
        Image golden;
        ASSERT_TRUE(reference_scenes::loadPng(std::string(VL_SOURCE_DIR "/tests/golden/viewer/") + c.golden, &golden));
        EXPECT_GE(reference_scenes::agreement(image, golden, 4), 0.99);

        for (auto [x, y] : {std::pair{0, 0}, {499, 0}, {499, 374}, {0, 374}})
            EXPECT_TRUE(isClear(image.at(x, y))) << x << "," << y << ": " << std::hex << image.at(x, y);
        EXPECT_GT(count(image, 340, 30, 420, 100, c.topRight), 300);
        EXPECT_GT(count(image, 80, 40, 420, 340, isRed), 1000);
        EXPECT_GT(count(image, 80, 40, 420, 340, isBlue), 1000);
        // Yellow text: the device line at the top, the read-out and the four
        // help lines at the bottom, nothing in between.
        EXPECT_GT(count(image, 0, 20, 120, 40, isYellow), 50);
        EXPECT_EQ(count(image, 0, 0, 500, 18, isYellow), 0);  // no statistics before the first second
        for (int line = 0; line < 5; ++line)
            EXPECT_GT(count(image, 0, 275 + 20 * line, 330, 295 + 20 * line, isYellow), 80) << "line " << line;
        EXPECT_EQ(count(image, 0, 60, 500, 270, isYellow), 0);
    }
}

TEST_F(Snapshot, SizeAndTurnsAreHonoured) {
    ASSERT_EQ(run("--size 320x200 --rotate-x 0.5 --output small.png").status, 0);
    const Image small = picture("small.png");
    EXPECT_EQ(small.width, 320u);
    EXPECT_EQ(small.height, 200u);
    EXPECT_TRUE(isClear(small.at(319, 0)));
    // The read-out stays 20 pixels above the bottom edge.
    EXPECT_GT(count(small, 0, 180, 300, 200, isYellow), 50);
}

// The launcher icons are drawn without text; a desktop asking the GUI
// library for a scale of 2 must not make the picture's text twice as big.
TEST_F(Snapshot, NoOverlayDropsTheTextAndTheDesktopsScaleChangesNothing) {
    setenv("QT_SCALE_FACTOR", "2", 1);
    const ToolRun plain = run("--no-overlay --output plain.png");
    const ToolRun text = run("--output text.png");
    unsetenv("QT_SCALE_FACTOR");
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(text.status, 0) << text.err;
    Image golden;
    ASSERT_TRUE(reference_scenes::loadPng(VL_SOURCE_DIR "/tests/golden/viewer/front.png", &golden));
    EXPECT_GE(reference_scenes::agreement(picture("text.png"), golden, 4), 0.99);
    const Image surface = picture("plain.png");
    EXPECT_EQ(count(surface, 0, 0, 500, 375, isYellow), 0);
    EXPECT_GT(count(surface, 80, 40, 420, 340, isRed), 1000);
    EXPECT_GT(count(surface, 80, 40, 420, 340, isBlue), 1000);
}

TEST_F(Snapshot, BadOptionsAndUnwritableOutputExitTwoWithOneLine) {
    auto expectRefused = [](const ToolRun& r) {
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("vibrolane-snapshot: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    };
    const char* bad[] = {
        "--frobnicate", "--rotate-x",   "--rotate-x pi",   "--rotate-y 1e999", "--size 500",
        "--size 0x375", "--size 500x",  "--size 9000x100", "--size -5x10",     "--output ''",
        "extra",
    };
    for (const char* arguments : bad) {
        SCOPED_TRACE(arguments);
        expectRefused(run(arguments));
    }
    // A refused option is refused before anything is computed.
    EXPECT_EQ(readFile(dir_ + "/stdout.txt"), "");
    EXPECT_EQ(readFile(dir_ + "/debug-file.txt"), "");

    SCOPED_TRACE("unwritable output");
    expectRefused(run("--output /nonexistent-dir/x.png"));
}

TEST_F(Snapshot, HelpPrintsTheUsage) {
    const ToolRun r = run("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(dir_ + "/stdout.txt"),
              "usage: vibrolane-snapshot [--rotate-x RAD] [--rotate-y RAD] [--size WIDTHxHEIGHT] [--output FILE] "
              "[--no-overlay] [--help]\n");
    EXPECT_FALSE(fs::exists(dir_ + "/vibrolane.png"));
}

}  // namespace
