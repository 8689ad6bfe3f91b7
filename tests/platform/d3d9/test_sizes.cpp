// Sizes handed to the create calls: zero, the device's limits, just past
// them, a width whose 32-bit pitch wraps to a tiny store, and products that
// overflow 32 and 64 bits. Nothing refused may change the device's count,
// and an allocation the machine cannot give answers E_OUTOFMEMORY.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "platform/d3d9/device.h"
#include "tests/platform/d3d9/reference_scenes.h"

using namespace reference_scenes;

namespace {

struct SizeCase {
    const char* what;
    UINT width, height;
    HRESULT expected;
};

constexpr UINT kRefLimit = 4096;  // REF's texture limit, as its caps say

const SizeCase kSurfaceSizes[] = {
    {"zero wide", 0, 1, D3DERR_INVALIDCALL},
    {"zero high", 1, 0, D3DERR_INVALIDCALL},
    {"the limits", kRefLimit, kRefLimit, D3D_OK},
    {"just past the width", kRefLimit + 1, 1, D3DERR_INVALIDCALL},
    {"just past the height", 1, kRefLimit + 1, D3DERR_INVALIDCALL},
    {"a pitch that wraps to 4 bytes", 0x40000001, 1, D3DERR_INVALIDCALL},
    {"a store past 32 bits", 0x10000, 0x10000, D3DERR_INVALIDCALL},
    {"a store past 64 bits", 0xFFFFFFFF, 0xFFFFFFFF, D3DERR_INVALIDCALL},
};

class Sizes : public ::testing::Test {
protected:
    void SetUp() override {
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_EQ(createWindowlessDevice(d3d_, D3DDEVTYPE_REF, &device_), D3D_OK);
        D3DCAPS9 caps{};
        ASSERT_EQ(device_->GetDeviceCaps(&caps), D3D_OK);
        ASSERT_EQ(caps.MaxTextureWidth, kRefLimit);
        ASSERT_EQ(caps.MaxTextureHeight, kRefLimit);
        vertexLimit_ = (caps.MaxVertexIndex + 1) * caps.MaxStreamStride;
    }
    void TearDown() override {
        if (device_) {
            EXPECT_EQ(device_->Release(), 0u);
        }
        if (d3d_) {
            EXPECT_EQ(d3d_->Release(), 0u);
        }
    }
    // The device's count, unchanged by a call that failed.
    ULONG references() {
        device_->AddRef();
        return device_->Release();
    }

    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    UINT vertexLimit_ = 0;
};

TEST_F(Sizes, TexturesAndSurfacesStayInsideTheLimitsAndNeverWrap) {
    const ULONG before = references();
    for (const SizeCase& c : kSurfaceSizes) {
        SCOPED_TRACE(c.what);
        IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(1);
        EXPECT_EQ(device_->CreateTexture(c.width, c.height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
                  c.expected);
        IDirect3DSurface9* surface = reinterpret_cast<IDirect3DSurface9*>(1);
        EXPECT_EQ(device_->CreateOffscreenPlainSurface(c.width, c.height, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &surface,
                                                       nullptr),
                  c.expected);
        if (SUCCEEDED(c.expected)) {
            // The last byte of the last row is inside the store.
            D3DLOCKED_RECT locked{};
            const RECT corner = {LONG(c.width) - 1, LONG(c.height) - 1, LONG(c.width), LONG(c.height)};
            ASSERT_EQ(surface->LockRect(&locked, &corner, 0), D3D_OK);
            EXPECT_EQ(locked.Pitch, INT(c.width * 4));
            static_cast<BYTE*>(locked.pBits)[3] = 0xAB;
            EXPECT_EQ(surface->UnlockRect(), D3D_OK);
            texture->Release();
            surface->Release();
        } else {
            EXPECT_EQ(texture, nullptr);
            EXPECT_EQ(surface, nullptr);
        }
        EXPECT_EQ(references(), before);
    }
}

TEST_F(Sizes, VertexBuffersStayInsideWhatADrawCanReach) {
    const ULONG before = references();
    const struct {
        const char* what;
        UINT length;
        HRESULT expected;
    } cases[] = {
        {"zero", 0, D3DERR_INVALIDCALL},
        {"the limit", vertexLimit_, D3D_OK},
        {"just past it", vertexLimit_ + 1, D3DERR_INVALIDCALL},
        {"the largest length", 0xFFFFFFFF, D3DERR_INVALIDCALL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        IDirect3DVertexBuffer9* buffer = reinterpret_cast<IDirect3DVertexBuffer9*>(1);
        EXPECT_EQ(device_->CreateVertexBuffer(c.length, 0, kColorFvf, D3DPOOL_MANAGED, &buffer, nullptr), c.expected);
        if (buffer)
            buffer->Release();
        EXPECT_EQ(references(), before);
    }
}

TEST_F(Sizes, BackBuffersOfDeviceCreationAndResetStayInsideTheLimit) {
    const UINT side = platform::d3d9::kMaxBackBufferSide;
    const SizeCase cases[] = {
        {"just past the width", side + 1, 1, D3DERR_INVALIDCALL},
        {"just past the height", 1, side + 1, D3DERR_INVALIDCALL},
        {"a pitch that wraps to 4 bytes", 0x40000001, 1, D3DERR_INVALIDCALL},
        {"a store past 64 bits", 0xFFFFFFFF, 0xFFFFFFFF, D3DERR_INVALIDCALL},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.what);
        D3DPRESENT_PARAMETERS params = windowedParameters(c.width, c.height, D3DFMT_D24X8);
        IDirect3DDevice9* other = reinterpret_cast<IDirect3DDevice9*>(1);
        EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &params, &other),
                  c.expected);
        EXPECT_EQ(other, nullptr);
        params = windowedParameters(c.width, c.height, D3DFMT_D24X8);
        EXPECT_EQ(device_->Reset(&params), c.expected);
        // A reset to a size that fits brings the device back.
        params = windowedParameters(kWidth, kHeight, D3DFMT_D24X8);
        EXPECT_EQ(device_->Reset(&params), D3D_OK);
    }
}

TEST(StoreLayout, PitchesAndSizesAreWorkedOutWithoutWrapping) {
    const struct {
        UINT width, height;
        D3DFORMAT format;
        bool fits;
        UINT pitch;
    } cases[] = {
        {1, 1, D3DFMT_R5G6B5, true, 4},
        {3, 2, D3DFMT_R5G6B5, true, 8},
        {0x1FFFFFFF, 1, D3DFMT_A8R8G8B8, true, 0x7FFFFFFC},
        {0x20000000, 1, D3DFMT_A8R8G8B8, false, 0},  // past the INT of a locked pitch
        {0x40000001, 1, D3DFMT_A8R8G8B8, false, 0},  // 4 bytes in 32-bit arithmetic
        {0xFFFFFFFF, 0xFFFFFFFF, D3DFMT_R5G6B5, false, 0},
        {16, 16, D3DFMT_UNKNOWN, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        UINT pitch = 0;
        std::size_t size = 0;
        EXPECT_EQ(platform::d3d9::storeLayout(c.width, c.height, c.format, &pitch, &size), c.fits);
        if (c.fits) {
            EXPECT_EQ(pitch, c.pitch);
            EXPECT_EQ(size, std::size_t(c.pitch) * c.height);
        }
    }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// In a child whose address space ends a little above what it uses, a store
// of 64 MB cannot be had: the call answers E_OUTOFMEMORY instead of letting
// std::bad_alloc through, and the device is as it was.
TEST_F(Sizes, AnAllocationTheMachineRefusesIsOutOfMemory) {
    const ULONG before = references();
    const pid_t child = fork();
    if (child == 0) {
        std::ifstream statm("/proc/self/statm");
        unsigned long pages = 0;
        statm >> pages;
        const rlim_t limit = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (32u << 20);
        const rlimit cap = {limit, limit};
        if (setrlimit(RLIMIT_AS, &cap) != 0)
            _exit(3);
        IDirect3DTexture9* texture = nullptr;
        IDirect3DSurface9* surface = nullptr;
        IDirect3DVertexBuffer9* buffer = nullptr;
        const bool refused =
            device_->CreateTexture(kRefLimit, kRefLimit, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr) ==
                E_OUTOFMEMORY &&
            device_->CreateOffscreenPlainSurface(kRefLimit, kRefLimit, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &surface,
                                                 nullptr) == E_OUTOFMEMORY &&
            device_->CreateVertexBuffer(vertexLimit_, 0, kColorFvf, D3DPOOL_MANAGED, &buffer, nullptr) ==
                E_OUTOFMEMORY;
        _exit(refused && !texture && !surface && !buffer && references() == before ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

}  // namespace
