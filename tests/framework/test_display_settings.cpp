// Choosing the initial display settings from a catalog of a scripted
// Direct3D object, and the present parameters derived from them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_direct3d.h"
#include "framework/display_settings.h"

namespace {

const RECT kClient = {0, 0, 400, 300};

FakeAdapter AdapterWith(std::map<D3DDEVTYPE, FakeDeviceType> types) {
    FakeAdapter adapter;
    adapter.deviceTypes = std::move(types);
    return adapter;
}

struct Catalog {
    explicit Catalog(FakeDirect3D& d3d, bool usesDepthBuffer = false) {
        catalog.d3d = &d3d;
        catalog.usesDepthBuffer = usesDepthBuffer;
        EXPECT_EQ(catalog.Enumerate(), S_OK);
    }
    DeviceCatalog catalog;
};

// Values no search leaves behind, to see what a search writes.
DisplaySettings Scribbled() {
    DisplaySettings s;
    s.windowedDepthStencilFormat = s.fullscreenDepthStencilFormat = D3DFMT_D32;
    s.windowedMultisampleQuality = s.fullscreenMultisampleQuality = 5;
    s.windowedPresentInterval = s.fullscreenPresentInterval = 77;
    return s;
}

}  // namespace

TEST(WindowedSearch, PrefersHalAndAMatchingBackBufferAndHonoursTheTypeFilter) {
    const FakeDeviceType any;
    const struct {
        const char* name;
        std::vector<FakeAdapter> adapters;
        std::set<std::pair<D3DFORMAT, D3DFORMAT>> surfaces, halSurfaces;  // no HAL pairs: the same as REF
        bool requireHal, requireRef;
        bool found;
        UINT ordinal;
        D3DDEVTYPE type;
        D3DFORMAT backBuffer;
    } cases[] = {
        {"HAL on a later adapter beats REF on the first",
         {AdapterWith({{D3DDEVTYPE_REF, any}}), AdapterWith({{D3DDEVTYPE_HAL, any}})},
         {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}, {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8}}, {},
         false, false, true, 1, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8},
        {"HAL with an unequal back buffer beats REF with an equal one",
         {AdapterWith({{D3DDEVTYPE_REF, any}}), AdapterWith({{D3DDEVTYPE_HAL, any}})},
         {{D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8}}, {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}},
         false, false, true, 1, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8},
        {"an unequal back buffer only when nothing better follows",
         {AdapterWith({{D3DDEVTYPE_HAL, any}})},
         {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}}, {},
         false, false, true, 0, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8},
        {"REF keeps its first combination",
         {AdapterWith({{D3DDEVTYPE_HAL, any}, {D3DDEVTYPE_REF, any}})},
         {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}, {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8}}, {},
         false, true, true, 0, D3DDEVTYPE_REF, D3DFMT_A8R8G8B8},
        {"HAL required but absent",
         {AdapterWith({{D3DDEVTYPE_REF, any}})},
         {{D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8}}, {},
         true, false, false, 0, D3DDEVTYPE_HAL, D3DFMT_UNKNOWN},
        {"no combination in the desktop format",
         {AdapterWith({{D3DDEVTYPE_HAL, any}})},
         {{D3DFMT_R5G6B5, D3DFMT_R5G6B5}}, {},
         false, false, false, 0, D3DDEVTYPE_HAL, D3DFMT_UNKNOWN},
    };
    for (const auto& c : cases) {
        FakeDirect3D d3d;
        d3d.adapters = c.adapters;
        d3d.adapters[0].modes.push_back({800, 600, 60, D3DFMT_R5G6B5});
        d3d.surfaces = c.surfaces;
        if (!c.halSurfaces.empty())
            d3d.typeSurfaces[D3DDEVTYPE_HAL] = c.halSurfaces;
        Catalog catalog(d3d);
        DisplaySettings settings = Scribbled();
        const bool found = FindBestWindowedSettings(catalog.catalog, &d3d, kClient, c.requireHal, c.requireRef, settings);
        ASSERT_EQ(found, c.found) << c.name;
        if (!found) {
            EXPECT_EQ(settings.windowedCombination, nullptr) << c.name;
            EXPECT_FALSE(settings.isWindowed) << c.name;
            continue;
        }
        EXPECT_TRUE(settings.isWindowed);
        ASSERT_NE(settings.windowedCombination, nullptr);
        EXPECT_TRUE(settings.windowedCombination->isWindowed);
        EXPECT_EQ(settings.windowedAdapter->adapterOrdinal, c.ordinal) << c.name;
        EXPECT_EQ(settings.windowedDevice->deviceType, c.type) << c.name;
        EXPECT_EQ(settings.CurrentDeviceType(), c.type) << c.name;
        EXPECT_EQ(settings.CurrentAdapterOrdinal(), c.ordinal) << c.name;
        EXPECT_EQ(settings.windowedCombination->backBufferFormat, c.backBuffer) << c.name;
    }
}

TEST(WindowedSearch, FillsTheWindowedHalfFromTheDesktopAndTheListsFirstEntries) {
    for (bool usesDepthBuffer : {false, true}) {
        FakeDirect3D d3d;
        d3d.adapters[0].desktop = {1280, 1024, 75, D3DFMT_X8R8G8B8};
        d3d.multisample = {{D3DMULTISAMPLE_NONE, 1}, {D3DMULTISAMPLE_2_SAMPLES, 3}};
        Catalog catalog(d3d, usesDepthBuffer);
        DisplaySettings settings = Scribbled();
        ASSERT_TRUE(FindBestWindowedSettings(catalog.catalog, &d3d, RECT{10, 20, 330, 260}, false, false, settings));
        EXPECT_EQ(settings.windowedDisplayMode.Width, 1280u);
        EXPECT_EQ(settings.windowedDisplayMode.Height, 1024u);
        EXPECT_EQ(settings.windowedDisplayMode.RefreshRate, 75u);
        EXPECT_EQ(settings.windowedWidth, 320);
        EXPECT_EQ(settings.windowedHeight, 240);
        EXPECT_EQ(settings.windowedDepthStencilFormat, usesDepthBuffer ? D3DFMT_D16 : D3DFMT_D32)
            << "the depth format is only chosen for a depth buffer";
        EXPECT_EQ(settings.windowedMultisampleType, D3DMULTISAMPLE_NONE);
        EXPECT_EQ(settings.windowedMultisampleQuality, 0u);
        EXPECT_EQ(settings.windowedVertexProcessing, PURE_HARDWARE_VP);
        EXPECT_EQ(settings.windowedPresentInterval, UINT(D3DPRESENT_INTERVAL_IMMEDIATE));
        EXPECT_EQ(settings.fullscreenCombination, nullptr) << "the other half is left alone";
        EXPECT_EQ(settings.fullscreenPresentInterval, 77u);
    }
}

TEST(FullscreenSearch, PrefersHalInTheDesktopFormatWithAMatchingBackBuffer) {
    const FakeDeviceType any;
    const std::set<std::pair<D3DFORMAT, D3DFORMAT>> all = {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8},
                                                           {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8},
                                                           {D3DFMT_R5G6B5, D3DFMT_R5G6B5}};
    const struct {
        const char* name;
        std::vector<FakeAdapter> adapters;
        D3DFORMAT desktopFormat;
        std::set<std::pair<D3DFORMAT, D3DFORMAT>> surfaces, halSurfaces;  // no HAL pairs: the same as REF
        bool requireRef;
        UINT ordinal;
        D3DDEVTYPE type;
        D3DFORMAT adapterFormat, backBuffer;
    } cases[] = {
        {"HAL on a later adapter beats REF on the first",
         {AdapterWith({{D3DDEVTYPE_REF, any}}), AdapterWith({{D3DDEVTYPE_HAL, any}})}, D3DFMT_X8R8G8B8, all, {}, false,
         1, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8},
        {"the desktop format wins over the first listed",
         {AdapterWith({{D3DDEVTYPE_HAL, any}})}, D3DFMT_R5G6B5, all, {}, false, 0, D3DDEVTYPE_HAL, D3DFMT_R5G6B5,
         D3DFMT_R5G6B5},
        {"the desktop format even with an unequal back buffer",
         {AdapterWith({{D3DDEVTYPE_HAL, any}})}, D3DFMT_R5G6B5,
         {{D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8}, {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5}}, {}, false, 0, D3DDEVTYPE_HAL,
         D3DFMT_R5G6B5, D3DFMT_X1R5G5B5},
        {"HAL with an unequal back buffer beats REF with an equal one",
         {AdapterWith({{D3DDEVTYPE_REF, any}}), AdapterWith({{D3DDEVTYPE_HAL, any}})}, D3DFMT_X8R8G8B8,
         {{D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8}}, {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}}, false, 1, D3DDEVTYPE_HAL,
         D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8},
        {"REF required",
         {AdapterWith({{D3DDEVTYPE_HAL, any}, {D3DDEVTYPE_REF, any}})}, D3DFMT_X8R8G8B8, all, {}, true, 0,
         D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8},
    };
    for (const auto& c : cases) {
        FakeDirect3D d3d;
        d3d.adapters = c.adapters;
        for (FakeAdapter& adapter : d3d.adapters) {
            adapter.modes.push_back({1024, 768, 60, D3DFMT_R5G6B5});
            adapter.desktop.Format = c.desktopFormat;
        }
        d3d.surfaces = c.surfaces;
        if (!c.halSurfaces.empty())
            d3d.typeSurfaces[D3DDEVTYPE_HAL] = c.halSurfaces;
        Catalog catalog(d3d);
        DisplaySettings settings = Scribbled();
        settings.isWindowed = true;
        ASSERT_TRUE(FindBestFullscreenSettings(catalog.catalog, &d3d, false, c.requireRef, settings)) << c.name;
        EXPECT_FALSE(settings.isWindowed);
        const DeviceCombination* combination = settings.fullscreenCombination;
        ASSERT_NE(combination, nullptr);
        EXPECT_FALSE(combination->isWindowed);
        EXPECT_EQ(settings.fullscreenAdapter->adapterOrdinal, c.ordinal) << c.name;
        EXPECT_EQ(settings.fullscreenDevice->deviceType, c.type) << c.name;
        EXPECT_EQ(combination->adapterFormat, c.adapterFormat) << c.name;
        EXPECT_EQ(combination->backBufferFormat, c.backBuffer) << c.name;
        EXPECT_EQ(settings.fullscreenDisplayMode.Format, c.adapterFormat) << c.name;
    }
}

TEST(FullscreenSearch, ModePrefersTheDesktopThenItsWidthThenTheSmallest) {
    const std::vector<D3DDISPLAYMODE> modes = {
        {640, 480, 60, D3DFMT_X8R8G8B8},   {1024, 600, 60, D3DFMT_X8R8G8B8}, {1024, 768, 60, D3DFMT_X8R8G8B8},
        {1024, 768, 70, D3DFMT_X8R8G8B8},  {800, 600, 60, D3DFMT_X8R8G8B8},
        {1024, 768, 85, D3DFMT_R5G6B5},  // another format is never taken
        {1280, 1024, 60, D3DFMT_R5G6B5},
    };
    const struct {
        const char* name;
        D3DDISPLAYMODE desktop;
        D3DDISPLAYMODE expected;
    } cases[] = {
        {"the desktop mode itself", {1024, 600, 60, D3DFMT_X8R8G8B8}, {1024, 600, 60, D3DFMT_X8R8G8B8}},
        {"last of the desktop's width", {1024, 900, 75, D3DFMT_X8R8G8B8}, {1024, 768, 70, D3DFMT_X8R8G8B8}},
        {"the smallest", {1280, 1024, 60, D3DFMT_X8R8G8B8}, {640, 480, 60, D3DFMT_X8R8G8B8}},
    };
    for (const auto& c : cases) {
        FakeDirect3D d3d;
        d3d.adapters[0].modes = modes;
        d3d.adapters[0].desktop = c.desktop;
        d3d.surfaces = {{D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8}};
        Catalog catalog(d3d);
        DisplaySettings settings;
        ASSERT_TRUE(FindBestFullscreenSettings(catalog.catalog, &d3d, false, false, settings));
        const D3DDISPLAYMODE& got = settings.fullscreenDisplayMode;
        EXPECT_EQ(got.Width, c.expected.Width) << c.name;
        EXPECT_EQ(got.Height, c.expected.Height) << c.name;
        EXPECT_EQ(got.RefreshRate, c.expected.RefreshRate) << c.name;
        EXPECT_EQ(got.Format, c.expected.Format) << c.name;
    }
}

TEST(FullscreenSearch, PresentsAtTheDefaultIntervalWithQualityZero) {
    for (bool usesDepthBuffer : {false, true}) {
        FakeDirect3D d3d;
        d3d.multisample = {{D3DMULTISAMPLE_NONE, 4}};
        Catalog catalog(d3d, usesDepthBuffer);
        DisplaySettings settings = Scribbled();
        ASSERT_TRUE(FindBestFullscreenSettings(catalog.catalog, &d3d, false, false, settings));
        EXPECT_EQ(Values<UINT>(settings.fullscreenCombination->presentIntervals).front(),
                  UINT(D3DPRESENT_INTERVAL_IMMEDIATE));
        EXPECT_EQ(settings.fullscreenPresentInterval, UINT(D3DPRESENT_INTERVAL_DEFAULT));
        EXPECT_EQ(settings.fullscreenMultisampleQuality, 0u);
        EXPECT_EQ(settings.fullscreenMultisampleType, D3DMULTISAMPLE_NONE);
        EXPECT_EQ(settings.fullscreenVertexProcessing, PURE_HARDWARE_VP);
        EXPECT_EQ(settings.fullscreenDepthStencilFormat, usesDepthBuffer ? D3DFMT_D16 : D3DFMT_D32);
        EXPECT_EQ(settings.windowedCombination, nullptr);
        EXPECT_EQ(settings.windowedPresentInterval, 77u);
    }
}

TEST(ChooseInitialSettings, StartsWindowedUnlessAskedOrForcedOtherwise) {
    const struct {
        const char* name;
        bool startFullscreen, windowedSurfaces, fullscreenSurfaces;
        HRESULT result;
        bool isWindowed;
    } cases[] = {
        {"both found", false, true, true, S_OK, true},
        {"both found, full screen wanted", true, true, true, S_OK, false},
        {"no windowed combination", false, false, true, S_OK, false},
        {"full screen wanted but impossible", true, true, false, S_OK, true},
        {"nothing at all", false, false, false, HRESULT(0x82000003), false},
    };
    for (const auto& c : cases) {
        FakeDirect3D d3d;
        d3d.windowedSurfaces = c.windowedSurfaces;
        d3d.fullscreenSurfaces = c.fullscreenSurfaces;
        Catalog catalog(d3d);
        DisplaySettings settings;
        EXPECT_EQ(ChooseInitialSettings(catalog.catalog, &d3d, kClient, c.startFullscreen, settings), c.result)
            << c.name;
        EXPECT_EQ(settings.isWindowed, c.isWindowed) << c.name;
        EXPECT_EQ(settings.windowedCombination != nullptr, c.windowedSurfaces) << c.name;
        EXPECT_EQ(settings.fullscreenCombination != nullptr, c.fullscreenSurfaces) << c.name;
    }
}

TEST(DisplaySettings, TheCurrentValuesFollowIsWindowed) {
    AdapterEntry adapterW, adapterF;
    DeviceEntry deviceW, deviceF;
    DeviceCombination combinationW, combinationF;
    combinationW.adapterOrdinal = 0;
    combinationW.deviceType = D3DDEVTYPE_REF;
    combinationF.adapterOrdinal = 2;
    combinationF.deviceType = D3DDEVTYPE_HAL;
    DisplaySettings s;
    s.windowedAdapter = &adapterW;
    s.windowedDevice = &deviceW;
    s.windowedCombination = &combinationW;
    s.windowedDisplayMode = {1, 2, 3, D3DFMT_X8R8G8B8};
    s.fullscreenAdapter = &adapterF;
    s.fullscreenDevice = &deviceF;
    s.fullscreenCombination = &combinationF;
    s.fullscreenDisplayMode = {4, 5, 6, D3DFMT_R5G6B5};
    for (bool windowed : {true, false}) {
        s.isWindowed = windowed;
        EXPECT_EQ(s.CurrentAdapter(), windowed ? &adapterW : &adapterF);
        EXPECT_EQ(s.CurrentDevice(), windowed ? &deviceW : &deviceF);
        EXPECT_EQ(s.CurrentCombination(), windowed ? &combinationW : &combinationF);
        EXPECT_EQ(s.CurrentAdapterOrdinal(), windowed ? 0u : 2u);
        EXPECT_EQ(s.CurrentDeviceType(), windowed ? D3DDEVTYPE_REF : D3DDEVTYPE_HAL);
        EXPECT_EQ(s.CurrentDisplayMode().Width, windowed ? 1u : 4u);
        s.SetCurrentDepthStencilFormat(windowed ? D3DFMT_D16 : D3DFMT_D24S8);
        s.SetCurrentMultisampleType(windowed ? D3DMULTISAMPLE_2_SAMPLES : D3DMULTISAMPLE_4_SAMPLES);
        s.SetCurrentMultisampleQuality(windowed ? 1 : 2);
        s.SetCurrentVertexProcessing(windowed ? SOFTWARE_VP : HARDWARE_VP);
        s.SetCurrentPresentInterval(windowed ? 1 : 2);
    }
    EXPECT_EQ(s.windowedDepthStencilFormat, D3DFMT_D16);
    EXPECT_EQ(s.fullscreenDepthStencilFormat, D3DFMT_D24S8);
    EXPECT_EQ(s.windowedMultisampleType, D3DMULTISAMPLE_2_SAMPLES);
    EXPECT_EQ(s.fullscreenMultisampleType, D3DMULTISAMPLE_4_SAMPLES);
    EXPECT_EQ(s.windowedMultisampleQuality, 1u);
    EXPECT_EQ(s.fullscreenMultisampleQuality, 2u);
    EXPECT_EQ(s.windowedVertexProcessing, SOFTWARE_VP);
    EXPECT_EQ(s.fullscreenVertexProcessing, HARDWARE_VP);
    EXPECT_EQ(s.windowedPresentInterval, 1u);
    EXPECT_EQ(s.fullscreenPresentInterval, 2u);
    s.isWindowed = true;
    EXPECT_EQ(s.CurrentPresentInterval(), 1u);
    EXPECT_EQ(s.CurrentVertexProcessing(), SOFTWARE_VP);
}

TEST(BuildPresentParameters, TakesSizesFromTheWindowOrTheModeAndDepthOnlyWhenUsed) {
    DeviceCombination windowedCombination, fullscreenCombination;
    windowedCombination.backBufferFormat = D3DFMT_A8R8G8B8;
    fullscreenCombination.backBufferFormat = D3DFMT_R5G6B5;
    DisplaySettings s;
    s.windowedCombination = &windowedCombination;
    s.windowedDisplayMode = {1280, 1024, 75, D3DFMT_X8R8G8B8};
    s.windowedDepthStencilFormat = D3DFMT_D16;
    s.windowedMultisampleType = D3DMULTISAMPLE_2_SAMPLES;
    s.windowedMultisampleQuality = 1;
    s.windowedPresentInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    s.fullscreenCombination = &fullscreenCombination;
    s.fullscreenDisplayMode = {800, 600, 85, D3DFMT_R5G6B5};
    s.fullscreenDepthStencilFormat = D3DFMT_D24S8;
    s.fullscreenMultisampleType = D3DMULTISAMPLE_4_SAMPLES;
    s.fullscreenMultisampleQuality = 2;
    s.fullscreenPresentInterval = D3DPRESENT_INTERVAL_DEFAULT;
    HWND window = reinterpret_cast<HWND>(0x1234);

    const struct {
        bool windowed, usesDepthBuffer;
        UINT width, height, refresh;
        D3DFORMAT backBuffer, depth;
        D3DMULTISAMPLE_TYPE multisample;
        DWORD quality, flags;
        UINT interval;
    } cases[] = {
        {true, false, 400, 300, 0, D3DFMT_A8R8G8B8, D3DFMT_UNKNOWN, D3DMULTISAMPLE_2_SAMPLES, 1, 0,
         UINT(D3DPRESENT_INTERVAL_IMMEDIATE)},
        {true, true, 400, 300, 0, D3DFMT_A8R8G8B8, D3DFMT_D16, D3DMULTISAMPLE_2_SAMPLES, 1, 2,
         UINT(D3DPRESENT_INTERVAL_IMMEDIATE)},
        {false, false, 800, 600, 85, D3DFMT_R5G6B5, D3DFMT_UNKNOWN, D3DMULTISAMPLE_4_SAMPLES, 2, 0, 0},
        {false, true, 800, 600, 85, D3DFMT_R5G6B5, D3DFMT_D24S8, D3DMULTISAMPLE_4_SAMPLES, 2, 2, 0},
    };
    for (const auto& c : cases) {
        s.isWindowed = c.windowed;
        D3DPRESENT_PARAMETERS p;
        std::memset(&p, 0xAB, sizeof p);
        BuildPresentParameters(s, c.usesDepthBuffer, c.windowed, kClient, window, p);
        SCOPED_TRACE(std::string(c.windowed ? "windowed" : "full screen") + (c.usesDepthBuffer ? ", depth" : ""));
        EXPECT_EQ(p.Windowed, c.windowed);
        EXPECT_EQ(p.BackBufferCount, 1u);
        EXPECT_EQ(p.BackBufferWidth, c.width);
        EXPECT_EQ(p.BackBufferHeight, c.height);
        EXPECT_EQ(p.BackBufferFormat, c.backBuffer);
        EXPECT_EQ(p.FullScreen_RefreshRateInHz, c.refresh);
        EXPECT_EQ(p.MultiSampleType, c.multisample);
        EXPECT_EQ(p.MultiSampleQuality, c.quality);
        EXPECT_EQ(p.SwapEffect, D3DSWAPEFFECT_DISCARD);
        EXPECT_EQ(p.EnableAutoDepthStencil, c.usesDepthBuffer);
        if (c.usesDepthBuffer) {
            EXPECT_EQ(p.AutoDepthStencilFormat, c.depth);
        }
        EXPECT_EQ(p.Flags, c.flags);
        EXPECT_EQ(p.hDeviceWindow, window);
        EXPECT_EQ(p.PresentationInterval, c.interval);
    }
}
