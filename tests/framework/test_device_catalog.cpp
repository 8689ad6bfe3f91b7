// The device catalog against a scripted Direct3D object, and once against
// the real one.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "fake_direct3d.h"
#include "framework/device_catalog.h"
#include "platform/win32/commctrl.h"

bool operator==(const D3DDISPLAYMODE& l, const D3DDISPLAYMODE& r) { return CompareDisplayModes(l, r) == 0; }

namespace {

using Mode = D3DDISPLAYMODE;

struct Combo {
    D3DFORMAT adapterFormat;
    D3DFORMAT backBufferFormat;
    bool windowed;
    bool operator==(const Combo&) const = default;
};

std::vector<Combo> CombosOf(const DeviceEntry* device) {
    std::vector<Combo> out;
    for (const DeviceCombination* c : Pointers<DeviceCombination>(device->combinations))
        out.push_back({c->adapterFormat, c->backBufferFormat, c->isWindowed});
    return out;
}

std::vector<D3DDEVTYPE> TypesOf(const AdapterEntry* adapter) {
    std::vector<D3DDEVTYPE> out;
    for (const DeviceEntry* d : Pointers<DeviceEntry>(adapter->devices))
        out.push_back(d->deviceType);
    return out;
}

// Every combination of every device of every adapter.
std::vector<DeviceCombination*> AllCombinations(const DeviceCatalog& catalog) {
    std::vector<DeviceCombination*> out;
    for (AdapterEntry* a : Pointers<AdapterEntry>(catalog.adapters))
        for (DeviceEntry* d : Pointers<DeviceEntry>(a->devices))
            for (DeviceCombination* c : Pointers<DeviceCombination>(d->combinations))
                out.push_back(c);
    return out;
}

}  // namespace

TEST(GrowArray, ValuesAreCopiedInAndGrowFrom16To32AtThe17thAppend) {
    GrowArray values(0, sizeof(int));
    EXPECT_EQ(values.items, nullptr);
    for (int i = 0; i < 17; ++i) {
        int v = i * 3;
        ASSERT_EQ(values.Append(&v), S_OK);
        v = -1;  // the array holds its own copy
        EXPECT_EQ(values.capacity, i < 16 ? 16u : 32u) << "after append " << i + 1;
    }
    EXPECT_EQ(values.Count(), 17u);
    for (UINT i = 0; i < 17; ++i)
        EXPECT_EQ(*static_cast<int*>(values.Get(i)), int(i) * 3);
    EXPECT_EQ(values.Get(17), nullptr);
}

TEST(GrowArray, PointersCompareByIdentityAndValuesByBytes) {
    int a = 7, b = 7, c = 8;
    GrowArray pointers(1, 0);
    EXPECT_EQ(pointers.elementSize, sizeof(void*));
    ASSERT_EQ(pointers.Append(&a), S_OK);
    EXPECT_EQ(pointers.Get(0), &a);
    EXPECT_TRUE(pointers.Contains(&a));
    EXPECT_FALSE(pointers.Contains(&b)) << "an equal value elsewhere is another pointer";

    GrowArray values(0, sizeof(int));
    ASSERT_EQ(values.Append(&a), S_OK);
    EXPECT_NE(values.Get(0), &a);
    EXPECT_TRUE(values.Contains(&b));
    EXPECT_FALSE(values.Contains(&c));
}

TEST(GrowArray, RemoveMovesLaterElementsDownAndIgnoresBadIndexes) {
    const struct {
        UINT index;
        std::vector<int> expected;
    } cases[] = {
        {0, {2, 3, 4}},
        {1, {1, 3, 4}},
        {3, {1, 2, 3}},
        {4, {1, 2, 3, 4}},
    };
    for (const auto& c : cases) {
        GrowArray values(0, sizeof(int));
        for (int v : {1, 2, 3, 4})
            values.Append(&v);
        values.Remove(c.index);
        EXPECT_EQ(Values<int>(&values), c.expected) << "remove " << c.index;
    }
}

TEST(GrowArray, AnElementSizeOfZeroRefusesToAppend) {
    GrowArray broken(0, 0);
    int v = 1;
    EXPECT_EQ(broken.Append(&v), E_FAIL);
    EXPECT_EQ(broken.Count(), 0u);
    EXPECT_EQ(broken.items, nullptr);
}

TEST(FormatProperties, ColourAlphaDepthAndStencilBitsFollowTheTables) {
    const struct {
        D3DFORMAT format;
        UINT color, alpha, depth, stencil;
    } cases[] = {
        {D3DFMT_R8G8B8, 8, 0, 0, 0},      {D3DFMT_X8R8G8B8, 8, 0, 0, 0},     {D3DFMT_A8R8G8B8, 8, 8, 0, 0},
        {D3DFMT_R5G6B5, 5, 0, 0, 0},      {D3DFMT_X1R5G5B5, 5, 0, 0, 0},     {D3DFMT_A1R5G5B5, 5, 1, 0, 0},
        {D3DFMT_X4R4G4B4, 4, 0, 0, 0},    {D3DFMT_A4R4G4B4, 4, 4, 0, 0},     {D3DFMT_R3G3B2, 2, 0, 0, 0},
        {D3DFMT_A8R3G3B2, 2, 8, 0, 0},    {D3DFMT_A2B10G10R10, 10, 2, 0, 0}, {D3DFMT_A2R10G10B10, 10, 2, 0, 0},
        {D3DFMT_P8, 0, 0, 0, 0},          {D3DFMT_A8B8G8R8, 0, 0, 0, 0},     {D3DFMT_D32, 0, 0, 32, 0},
        {D3DFMT_D15S1, 0, 0, 15, 1},      {D3DFMT_D24S8, 0, 0, 24, 8},       {D3DFMT_D24X8, 0, 0, 24, 0},
        {D3DFMT_D24X4S4, 0, 0, 24, 4},    {D3DFMT_D16, 0, 0, 16, 0},         {D3DFMT_D16_LOCKABLE, 0, 0, 0, 0},
        {D3DFMT_D24FS8, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ColorChannelBits(c.format), c.color) << c.format;
        EXPECT_EQ(AlphaChannelBits(c.format), c.alpha) << c.format;
        EXPECT_EQ(DepthBits(c.format), c.depth) << c.format;
        EXPECT_EQ(StencilBits(c.format), c.stencil) << c.format;
    }
}

TEST(DeviceCatalog, WithoutDirect3DEnumerationFails) {
    DeviceCatalog catalog;
    EXPECT_EQ(catalog.Enumerate(), E_FAIL);
    EXPECT_EQ(catalog.adapters, nullptr);
}

TEST(DeviceCatalog, ConstructionSetsTheDefaultRequirements) {
    DeviceCatalog catalog;
    EXPECT_EQ(catalog.minFullscreenWidth, 640u);
    EXPECT_EQ(catalog.minFullscreenHeight, 480u);
    EXPECT_EQ(catalog.minColorChannelBits, 5u);
    EXPECT_EQ(catalog.minAlphaChannelBits, 0u);
    EXPECT_EQ(catalog.minDepthBits, 15u);
    EXPECT_EQ(catalog.minStencilBits, 0u);
    EXPECT_FALSE(catalog.usesDepthBuffer || catalog.usesMixedVertexProcessing || catalog.requiresWindowed ||
                 catalog.requiresFullscreen);
    EXPECT_EQ(catalog.allowedAdapterFormats, nullptr);
}

TEST(DeviceCatalog, ModesAreFilteredByMinimumSizeAndColourBitsAndSorted) {
    FakeDirect3D d3d;
    d3d.surfaces.insert({D3DFMT_A2R10G10B10, D3DFMT_A2R10G10B10});
    d3d.adapters[0].modes = {
        {800, 600, 75, D3DFMT_X8R8G8B8}, {639, 480, 60, D3DFMT_X8R8G8B8},   {800, 600, 60, D3DFMT_R5G6B5},
        {640, 479, 60, D3DFMT_X8R8G8B8}, {640, 480, 60, D3DFMT_X8R8G8B8},   {800, 600, 60, D3DFMT_X8R8G8B8},
        {640, 480, 60, D3DFMT_P8},       {800, 480, 60, D3DFMT_X1R5G5B5},   {1024, 768, 60, D3DFMT_A2R10G10B10},
        {640, 600, 60, D3DFMT_X8R8G8B8},
    };
    const struct {
        UINT minColorChannelBits;
        std::vector<Mode> expected;
    } cases[] = {
        {5,
         {{640, 480, 60, D3DFMT_X8R8G8B8},
          {640, 600, 60, D3DFMT_X8R8G8B8},
          {800, 480, 60, D3DFMT_X1R5G5B5},
          {800, 600, 60, D3DFMT_X8R8G8B8},
          {800, 600, 75, D3DFMT_X8R8G8B8},
          {800, 600, 60, D3DFMT_R5G6B5},  // equal sizes: format before refresh rate
          {1024, 768, 60, D3DFMT_A2R10G10B10}}},
        {8,
         {{640, 480, 60, D3DFMT_X8R8G8B8},
          {640, 600, 60, D3DFMT_X8R8G8B8},
          {800, 600, 60, D3DFMT_X8R8G8B8},
          {800, 600, 75, D3DFMT_X8R8G8B8},
          {1024, 768, 60, D3DFMT_A2R10G10B10}}},
    };
    for (const auto& c : cases) {
        d3d.modeFormatsAsked.clear();
        DeviceCatalog catalog;
        catalog.d3d = &d3d;
        catalog.minColorChannelBits = c.minColorChannelBits;
        ASSERT_EQ(catalog.Enumerate(), S_OK);
        ASSERT_EQ(catalog.adapters->Count(), 1u);
        const auto* adapter = static_cast<AdapterEntry*>(catalog.adapters->Get(0));
        EXPECT_EQ(Values<Mode>(adapter->displayModes), c.expected) << "min colour bits " << c.minColorChannelBits;
        // Palettised modes are never asked for.
        EXPECT_EQ(d3d.modeFormatsAsked, (std::vector<D3DFORMAT>{D3DFMT_X8R8G8B8, D3DFMT_X1R5G5B5, D3DFMT_R5G6B5,
                                                                D3DFMT_A2R10G10B10}));
        EXPECT_EQ(Values<D3DFORMAT>(catalog.allowedAdapterFormats), d3d.modeFormatsAsked);
    }
}

TEST(DeviceCatalog, AnAdapterWhoseModesAreAllDroppedIsLeftOut) {
    FakeDirect3D d3d;
    d3d.adapters.resize(2);
    d3d.adapters[0].modes = {{639, 480, 60, D3DFMT_X8R8G8B8}, {1024, 400, 60, D3DFMT_X8R8G8B8}};
    d3d.adapters[1].description = "second";
    DeviceCatalog catalog;
    catalog.d3d = &d3d;
    ASSERT_EQ(catalog.Enumerate(), S_OK);
    ASSERT_EQ(catalog.adapters->Count(), 1u);
    const auto* adapter = static_cast<AdapterEntry*>(catalog.adapters->Get(0));
    EXPECT_EQ(adapter->adapterOrdinal, 1u);
    EXPECT_STREQ(adapter->identifier.Description, "second");
}

TEST(DeviceCatalog, HardwareFirstAndTheDesktopFormatBeforeOthers) {
    FakeDirect3D d3d;
    d3d.adapters[0].deviceTypes = {{D3DDEVTYPE_REF, {}}, {D3DDEVTYPE_SW, {}}, {D3DDEVTYPE_HAL, {}}};
    // A mode in 16 bits makes R5G6B5 the adapter's second format.
    d3d.adapters[0].modes.push_back({800, 600, 60, D3DFMT_R5G6B5});
    DeviceCatalog catalog;
    catalog.d3d = &d3d;
    ASSERT_EQ(catalog.Enumerate(), S_OK);
    const auto* adapter = static_cast<AdapterEntry*>(catalog.adapters->Get(0));
    EXPECT_EQ(TypesOf(adapter), (std::vector<D3DDEVTYPE>{D3DDEVTYPE_HAL, D3DDEVTYPE_SW, D3DDEVTYPE_REF}));
    const std::vector<Combo> expected = {
        {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, false}, {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, true},
        {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, false}, {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, true},
        {D3DFMT_R5G6B5, D3DFMT_R5G6B5, false},     {D3DFMT_R5G6B5, D3DFMT_R5G6B5, true},
    };
    for (const DeviceEntry* device : Pointers<DeviceEntry>(adapter->devices)) {
        EXPECT_EQ(device->adapterOrdinal, 0u);
        EXPECT_EQ(device->caps.DeviceType, device->deviceType) << "caps come from GetDeviceCaps";
        EXPECT_EQ(CombosOf(device), expected) << device->deviceType;
        for (const DeviceCombination* c : Pointers<DeviceCombination>(device->combinations))
            EXPECT_EQ(c->deviceType, device->deviceType);
    }
}

TEST(DeviceCatalog, DeviceTypesWithoutCapsOrCombinationsAreDropped) {
    FakeDirect3D d3d;
    d3d.adapters[0].deviceTypes = {{D3DDEVTYPE_REF, {}}};  // HAL and SW have no caps
    DeviceCatalog catalog;
    catalog.d3d = &d3d;
    ASSERT_EQ(catalog.Enumerate(), S_OK);
    EXPECT_EQ(TypesOf(static_cast<AdapterEntry*>(catalog.adapters->Get(0))),
              std::vector<D3DDEVTYPE>{D3DDEVTYPE_REF});

    d3d.surfaces.clear();  // no back buffer works: no combination, no device, no adapter
    DeviceCatalog empty;
    empty.d3d = &d3d;
    ASSERT_EQ(empty.Enumerate(), S_OK);
    EXPECT_EQ(empty.adapters->Count(), 0u);
}

TEST(DeviceCatalog, RequirementsPruneCombinations) {
    const struct {
        const char* name;
        bool requiresWindowed, requiresFullscreen;
        UINT minAlphaChannelBits;
        std::vector<Combo> expected;
    } cases[] = {
        {"windowed only", true, false, 0,
         {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, true}, {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, true}}},
        {"full screen only", false, true, 0,
         {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, false}, {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, false}}},
        {"alpha wanted", false, false, 1,
         {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, false}, {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, true}}},
    };
    for (const auto& c : cases) {
        FakeDirect3D d3d;
        d3d.adapters[0].deviceTypes = {{D3DDEVTYPE_HAL, {}}};
        DeviceCatalog catalog;
        catalog.d3d = &d3d;
        catalog.requiresWindowed = c.requiresWindowed;
        catalog.requiresFullscreen = c.requiresFullscreen;
        catalog.minAlphaChannelBits = c.minAlphaChannelBits;
        ASSERT_EQ(catalog.Enumerate(), S_OK);
        const auto* adapter = static_cast<AdapterEntry*>(catalog.adapters->Get(0));
        EXPECT_EQ(CombosOf(static_cast<DeviceEntry*>(adapter->devices->Get(0))), c.expected) << c.name;
    }
}

TEST(DeviceCatalog, DepthStencilFormatsFollowRequirementsAndChecks) {
    const std::set<D3DFORMAT> all = {D3DFMT_D16, D3DFMT_D15S1, D3DFMT_D24X8, D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D32};
    const struct {
        const char* name;
        bool usesDepthBuffer;
        UINT minDepthBits, minStencilBits;
        std::set<D3DFORMAT> supported;
        std::set<std::pair<D3DFORMAT, D3DFORMAT>> mismatches;
        std::vector<D3DFORMAT> forA8R8G8B8, forX8R8G8B8;  // empty: the combination is gone
    } cases[] = {
        {"no depth buffer", false, 15, 0, all, {}, {}, {}},
        {"all, in the catalog's order", true, 15, 0, all, {},
         {D3DFMT_D16, D3DFMT_D15S1, D3DFMT_D24X8, D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D32},
         {D3DFMT_D16, D3DFMT_D15S1, D3DFMT_D24X8, D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D32}},
        {"24 depth bits", true, 24, 0, all, {},
         {D3DFMT_D24X8, D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D32},
         {D3DFMT_D24X8, D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D32}},
        {"4 stencil bits", true, 15, 4, all, {}, {D3DFMT_D24S8, D3DFMT_D24X4S4}, {D3DFMT_D24S8, D3DFMT_D24X4S4}},
        {"unsupported and mismatched", true, 15, 0, {D3DFMT_D16, D3DFMT_D24S8},
         {{D3DFMT_A8R8G8B8, D3DFMT_D16}, {D3DFMT_X8R8G8B8, D3DFMT_D16}, {D3DFMT_X8R8G8B8, D3DFMT_D24S8}},
         {D3DFMT_D24S8}, {}},
    };
    for (const auto& c : cases) {
        FakeDirect3D d3d;
        d3d.adapters[0].deviceTypes = {{D3DDEVTYPE_REF, {}}};
        d3d.depthFormats = c.supported;
        d3d.depthMismatches = c.mismatches;
        // A depth format that cannot be multisampled would be a conflict.
        d3d.multisample = {{D3DMULTISAMPLE_NONE, 1}, {D3DMULTISAMPLE_2_SAMPLES, 1}};
        d3d.depthMultisampleFailures = {{D3DFMT_D24S8, D3DMULTISAMPLE_2_SAMPLES}};
        DeviceCatalog catalog;
        catalog.d3d = &d3d;
        catalog.usesDepthBuffer = c.usesDepthBuffer;
        catalog.minDepthBits = c.minDepthBits;
        catalog.minStencilBits = c.minStencilBits;
        ASSERT_EQ(catalog.Enumerate(), S_OK);
        bool sawA8 = false, sawX8 = false;
        for (const DeviceCombination* combination : AllCombinations(catalog)) {
            const bool a8 = combination->backBufferFormat == D3DFMT_A8R8G8B8;
            (a8 ? sawA8 : sawX8) = true;
            const auto formats = Values<D3DFORMAT>(combination->depthStencilFormats);
            EXPECT_EQ(formats, a8 ? c.forA8R8G8B8 : c.forX8R8G8B8) << c.name;
            const bool d24s8 = std::find(formats.begin(), formats.end(), D3DFMT_D24S8) != formats.end();
            EXPECT_EQ(combination->conflicts->Count(), d24s8 ? 1u : 0u) << c.name;
        }
        EXPECT_EQ(sawA8, !c.usesDepthBuffer || !c.forA8R8G8B8.empty()) << c.name;
        EXPECT_EQ(sawX8, !c.usesDepthBuffer || !c.forX8R8G8B8.empty()) << c.name;
    }
}

TEST(DeviceCatalog, MultisampleTypesCarryTheirQualitiesAndConflictsPairThemWithDepthFormats) {
    FakeDirect3D d3d;
    d3d.adapters[0].deviceTypes = {{D3DDEVTYPE_HAL, {}}};
    d3d.multisample = {{D3DMULTISAMPLE_16_SAMPLES, 1},
                       {D3DMULTISAMPLE_NONE, 1},
                       {D3DMULTISAMPLE_NONMASKABLE, 4},
                       {D3DMULTISAMPLE_4_SAMPLES, 2}};
    d3d.depthMultisampleFailures = {{D3DFMT_D16, D3DMULTISAMPLE_4_SAMPLES},
                                    {D3DFMT_D24S8, D3DMULTISAMPLE_4_SAMPLES},
                                    {D3DFMT_D24S8, D3DMULTISAMPLE_16_SAMPLES}};
    DeviceCatalog catalog;
    catalog.d3d = &d3d;
    catalog.usesDepthBuffer = true;
    ASSERT_EQ(catalog.Enumerate(), S_OK);
    const auto combinations = AllCombinations(catalog);
    ASSERT_FALSE(combinations.empty());
    for (const DeviceCombination* c : combinations) {
        EXPECT_EQ(Values<D3DMULTISAMPLE_TYPE>(c->multisampleTypes),
                  (std::vector<D3DMULTISAMPLE_TYPE>{D3DMULTISAMPLE_NONE, D3DMULTISAMPLE_NONMASKABLE,
                                                    D3DMULTISAMPLE_4_SAMPLES, D3DMULTISAMPLE_16_SAMPLES}));
        EXPECT_EQ(Values<DWORD>(c->multisampleQualities), (std::vector<DWORD>{1, 4, 2, 1}));
        // Depth formats outside, multisample types inside.
        const auto conflicts = Values<DepthMultisampleConflict>(c->conflicts);
        ASSERT_EQ(conflicts.size(), 3u);
        EXPECT_EQ(conflicts[0].depthStencilFormat, D3DFMT_D16);
        EXPECT_EQ(conflicts[0].multisampleType, D3DMULTISAMPLE_4_SAMPLES);
        EXPECT_EQ(conflicts[1].depthStencilFormat, D3DFMT_D24S8);
        EXPECT_EQ(conflicts[1].multisampleType, D3DMULTISAMPLE_4_SAMPLES);
        EXPECT_EQ(conflicts[2].depthStencilFormat, D3DFMT_D24S8);
        EXPECT_EQ(conflicts[2].multisampleType, D3DMULTISAMPLE_16_SAMPLES);
    }

    d3d.multisample.clear();  // not even "none": nothing is usable
    DeviceCatalog empty;
    empty.d3d = &d3d;
    ASSERT_EQ(empty.Enumerate(), S_OK);
    EXPECT_EQ(empty.adapters->Count(), 0u);
}

namespace {

std::set<VertexProcessing> rejected;
std::vector<std::pair<DWORD, D3DFORMAT>> callbackSaw;

bool Accept(D3DCAPS9* caps, VertexProcessing vertexProcessing, D3DFORMAT backBufferFormat) {
    callbackSaw.emplace_back(caps->DevCaps, backBufferFormat);
    return !rejected.count(vertexProcessing);
}

}  // namespace

TEST(DeviceCatalog, VertexProcessingFollowsCapsMixedFlagAndCallback) {
    constexpr DWORD hwtl = 0x10000, pure = 0x100000;
    const struct {
        const char* name;
        DWORD devCaps;
        bool mixed;
        bool withCallback;
        std::set<VertexProcessing> rejects;
        std::vector<VertexProcessing> expected;
    } cases[] = {
        {"pure device", hwtl | pure, false, true, {}, {PURE_HARDWARE_VP, HARDWARE_VP, SOFTWARE_VP}},
        {"pure device with mixed", hwtl | pure, true, true, {}, {PURE_HARDWARE_VP, HARDWARE_VP, MIXED_VP, SOFTWARE_VP}},
        {"hardware only", hwtl, true, true, {}, {HARDWARE_VP, MIXED_VP, SOFTWARE_VP}},
        {"pure flag without hardware", pure, true, true, {}, {SOFTWARE_VP}},
        {"no callback", hwtl | pure, false, false, {SOFTWARE_VP}, {PURE_HARDWARE_VP, HARDWARE_VP, SOFTWARE_VP}},
        {"callback rejects hardware", hwtl | pure, true, true, {PURE_HARDWARE_VP, HARDWARE_VP}, {MIXED_VP, SOFTWARE_VP}},
        {"callback rejects everything", hwtl | pure, true, true,
         {SOFTWARE_VP, MIXED_VP, HARDWARE_VP, PURE_HARDWARE_VP}, {}},
    };
    for (const auto& c : cases) {
        FakeDirect3D d3d;
        d3d.adapters[0].deviceTypes = {{D3DDEVTYPE_HAL, {c.devCaps, 0}}};
        rejected = c.rejects;
        callbackSaw.clear();
        DeviceCatalog catalog;
        catalog.d3d = &d3d;
        catalog.usesMixedVertexProcessing = c.mixed;
        catalog.acceptDevice = c.withCallback ? Accept : nullptr;
        ASSERT_EQ(catalog.Enumerate(), S_OK);
        if (c.expected.empty()) {
            EXPECT_EQ(catalog.adapters->Count(), 0u) << c.name << ": the whole tree goes";
            continue;
        }
        const auto combinations = AllCombinations(catalog);
        ASSERT_EQ(combinations.size(), 4u) << c.name;
        for (const DeviceCombination* combination : combinations)
            EXPECT_EQ(Values<VertexProcessing>(combination->vertexProcessingTypes), c.expected) << c.name;
        if (c.withCallback) {
            ASSERT_FALSE(callbackSaw.empty());
            EXPECT_EQ(callbackSaw.front(), std::make_pair(c.devCaps, D3DFMT_A8R8G8B8)) << c.name;
        }
    }
    rejected.clear();
}

TEST(DeviceCatalog, PresentIntervalsDependOnCapsAndPresentation) {
    const UINT all = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE | D3DPRESENT_INTERVAL_TWO |
                     D3DPRESENT_INTERVAL_THREE | D3DPRESENT_INTERVAL_FOUR;
    const UINT immediate = D3DPRESENT_INTERVAL_IMMEDIATE;
    const struct {
        UINT caps;
        std::vector<UINT> fullscreen, windowed;
    } cases[] = {
        {all, {immediate, 0, 1, 2, 4, 8}, {immediate, 0, 1}},
        {0, {0}, {0}},
        {D3DPRESENT_INTERVAL_TWO | D3DPRESENT_INTERVAL_ONE, {0, 1, 2}, {0, 1}},
    };
    for (const auto& c : cases) {
        FakeDirect3D d3d;
        d3d.adapters[0].deviceTypes = {{D3DDEVTYPE_HAL, {0, c.caps}}};
        DeviceCatalog catalog;
        catalog.d3d = &d3d;
        ASSERT_EQ(catalog.Enumerate(), S_OK);
        for (const DeviceCombination* combination : AllCombinations(catalog))
            EXPECT_EQ(Values<UINT>(combination->presentIntervals), combination->isWindowed ? c.windowed : c.fullscreen)
                << "caps " << c.caps << (combination->isWindowed ? " windowed" : " full screen");
    }
}

TEST(DeviceCatalog, EnumeratingAgainReplacesTheTree) {
    FakeDirect3D d3d;
    DeviceCatalog catalog;
    catalog.d3d = &d3d;
    ASSERT_EQ(catalog.Enumerate(), S_OK);
    d3d.adapters.resize(2);
    ASSERT_EQ(catalog.Enumerate(), S_OK);
    EXPECT_EQ(catalog.adapters->Count(), 2u);
    EXPECT_EQ(catalog.allowedAdapterFormats->Count(), 4u);
    catalog.Destroy();
    EXPECT_EQ(catalog.adapters, nullptr);
    EXPECT_EQ(catalog.allowedAdapterFormats, nullptr);
}

// The real layer: REF is always there; HAL when OpenGL is (under xvfb-run).
TEST(DeviceCatalog, TheRealLayerOffersReferenceAndWhateverHardwareThereIs) {
    InitCommonControls();
    IDirect3D9* d3d = Direct3DCreate9(31);
    ASSERT_NE(d3d, nullptr);
    D3DCAPS9 caps;
    const bool halPresent = SUCCEEDED(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps));
    RecordProperty("hal", halPresent ? "present" : "absent");
    {
        DeviceCatalog catalog;
        catalog.d3d = d3d;
        catalog.usesDepthBuffer = true;
        ASSERT_EQ(catalog.Enumerate(), S_OK);
        ASSERT_EQ(catalog.adapters->Count(), d3d->GetAdapterCount());
        for (const AdapterEntry* adapter : Pointers<AdapterEntry>(catalog.adapters)) {
            D3DDISPLAYMODE desktop;
            ASSERT_EQ(d3d->GetAdapterDisplayMode(adapter->adapterOrdinal, &desktop), D3D_OK);
            const auto modes = Values<Mode>(adapter->displayModes);
            EXPECT_NE(std::find(modes.begin(), modes.end(), desktop), modes.end()) << "the desktop is a mode";
            for (std::size_t i = 1; i < modes.size(); ++i)
                EXPECT_LT(CompareDisplayModes(modes[i - 1], modes[i]), 0);
            const std::vector<D3DDEVTYPE> expectedTypes =
                halPresent ? std::vector<D3DDEVTYPE>{D3DDEVTYPE_HAL, D3DDEVTYPE_REF}
                           : std::vector<D3DDEVTYPE>{D3DDEVTYPE_REF};
            EXPECT_EQ(TypesOf(adapter), expectedTypes);
            for (const DeviceEntry* device : Pointers<DeviceEntry>(adapter->devices)) {
                const auto combos = CombosOf(device);
                for (bool windowed : {false, true})
                    EXPECT_NE(std::find(combos.begin(), combos.end(),
                                        Combo{D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, windowed}),
                              combos.end());
                for (const DeviceCombination* c : Pointers<DeviceCombination>(device->combinations)) {
                    const auto depth = Values<D3DFORMAT>(c->depthStencilFormats);
                    EXPECT_FALSE(depth.empty());
                    EXPECT_EQ(Values<D3DMULTISAMPLE_TYPE>(c->multisampleTypes).front(), D3DMULTISAMPLE_NONE);
                    EXPECT_EQ(Values<VertexProcessing>(c->vertexProcessingTypes).back(), SOFTWARE_VP);
                    EXPECT_EQ(Values<UINT>(c->presentIntervals).front(), UINT(D3DPRESENT_INTERVAL_IMMEDIATE));
                }
            }
        }
    }
    d3d->Release();
}
