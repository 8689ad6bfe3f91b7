// The OpenGL driver's early loading: nothing loads it by merely linking the
// device layer, and a start (asked twice) runs beside the first context
// without a race; scripts/test --thread runs this under ThreadSanitizer.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "platform/d3d9/driver_preload.h"
#include "platform/d3d9/hal_context.h"

namespace {

bool driverMapped() {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.find("_dri.so") != std::string::npos)
            return true;
    return false;
}

bool driverPreloadedByTheHarness() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::string(preload).find("_dri.so") != std::string::npos;
}

// Runs first: no other test of this program has made a context yet.
TEST(DriverPreload, NothingLoadsTheDriverUntilTheEntryPointAsks) {
    if (driverPreloadedByTheHarness())
        GTEST_SKIP() << "this build preloads the driver for its leak checker";
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "without a display nothing would be loaded anyway";
    // A loader started on its own would have the driver mapped by now.
    for (int i = 0; i < 20; ++i) {
        ASSERT_FALSE(driverMapped());
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}

TEST(DriverPreload, AStartAskedTwiceRunsBesideTheFirstContext) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display";
    platform::hal::startGraphicsDriverPreload();
    platform::hal::startGraphicsDriverPreload();
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    std::unique_ptr<platform::hal::HalContext> context = platform::hal::HalContext::create();
    if (!context)
        GTEST_SKIP() << "no OpenGL 3.3 here";
    EXPECT_TRUE(context->makeCurrent());
    EXPECT_FALSE(context->renderer().empty());
    context.reset();
}

}  // namespace
