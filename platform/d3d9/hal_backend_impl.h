// What the HAL backend's files share: the GL objects it keeps per device
// resource and its implementation state. Only hal_*.cpp include this.
#pragma once

#include <array>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/d3d9/hal_backend.h"
#include "platform/d3d9/hal_shaders.h"

namespace platform::hal {

using d3d9::FixedFunctionState;
using d3d9::TextureData;
using d3d9::VertexData;
using Mat4 = std::array<float, 16>;

// Errors read per sweep at most.
inline constexpr int kErrorSweep = 16;

// Test faults (test_hooks.h): never set by the program.
extern bool allocationsFail;

enum Uniform {
    uWorldViewProjection,
    uNormalMatrix,
    uViewportSize,
    uTargetSize,
    uGlobalAmbient,
    uMaterialDiffuse,
    uMaterialAmbient,
    uMaterialEmissive,
    uLightToward,
    uLightDiffuse,
    uLightAmbient,
    uTextureFactor,
    uAlphaRef,
    kUniformCount
};

constexpr const char* kUniformNames[kUniformCount] = {
    "uWorldViewProjection", "uNormalMatrix",     "uViewportSize", "uTargetSize",   "uGlobalAmbient",
    "uMaterialDiffuse",     "uMaterialAmbient",  "uMaterialEmissive", "uLightToward", "uLightDiffuse",
    "uLightAmbient",        "uTextureFactor",    "uAlphaRef"};

struct Program {
    GLuint id = 0;
    GLint location[kUniformCount] = {};
    // Values last sent per uniform, so unchanged state costs no GL call.
    std::vector<float> sent[kUniformCount];
};

struct GpuBuffer {
    GLuint name = 0;
    std::uint64_t version = ~std::uint64_t(0);
    UINT size = 0;
};

struct GpuTexture {
    GLuint name = 0;
    std::uint64_t version = ~std::uint64_t(0);
    UINT width = 0, height = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
};

// GL state as last set; -1 / 0 mean "unknown, set it next time".
struct RasterState {
    int cull = -1, depthTest = -1, depthWrite = -1, blend = -1, depthClamp = -1;
    GLenum depthFunc = 0, srcBlend = 0, dstBlend = 0, equation = 0;
    D3DCOLOR blendColor = 0;
    bool blendColorSet = false;
    DWORD colorMask = ~DWORD(0);
    GLint viewport[4] = {-1, -1, -1, -1};
    GLint scissor[4] = {-1, -1, -1, -1};
    float depthRange[2] = {-1.0f, -1.0f};
};

struct HalBackend::Impl {
    GL* gl = nullptr;
    HalContext* context = nullptr;
    // Error codes already written to standard error: each is said once.
    std::set<GLenum> reportedErrors;
    std::unordered_map<std::string, std::unique_ptr<Program>> programs;
    // Shapes whose program did not build: reported once, never retried.
    std::unordered_set<std::string> failedPrograms;
    Program* current = nullptr;
    // Frames repeat the same few shapes: the last lookup is kept aside.
    std::string lastKey;
    Program* lastProgram = nullptr;
    GLuint vao = 0;
    // The copy draws with no vertex data at all, so it gets a VAO of its own.
    GLuint copyVao = 0;
    GLuint copyProgram = 0;
    GLint copyOrigin = -1;

    GLuint frameBuffer = 0, colorBuffer = 0, depthBuffer = 0;
    GLuint resolveFrameBuffer = 0, resolveColorBuffer = 0;
    int width = 0, height = 0, samples = 0;
    bool hasDepth = false;
    bool opaque = false;  // X8R8G8B8: alpha stays one

    RasterState raster;
    GLuint layoutBuffer = 0;
    UINT layoutOffset = ~0u, layoutStride = ~0u;
    DWORD layoutFvf = ~0u;

    std::unordered_map<std::uint64_t, GpuBuffer> buffers;
    std::unordered_map<std::uint64_t, GpuTexture> textures;
    std::unordered_map<std::uint32_t, GLuint> samplers;

    bool changed(Uniform u, const float* values, std::size_t count) {
        std::vector<float>& last = current->sent[u];
        if (last.size() == count && std::memcmp(last.data(), values, count * sizeof(float)) == 0)
            return false;
        last.assign(values, values + count);
        return true;
    }
    void setInt(Uniform u, int v) {
        const float f = float(v);
        if (current->location[u] >= 0 && changed(u, &f, 1))
            gl->glUniform1i(current->location[u], v);
    }
    void setVec2(Uniform u, float x, float y) {
        const float f[2] = {x, y};
        if (current->location[u] >= 0 && changed(u, f, 2))
            gl->glUniform2fv(current->location[u], 1, f);
    }
    void setVec4(Uniform u, const std::array<float, 4>& v) {
        if (current->location[u] >= 0 && changed(u, v.data(), 4))
            gl->glUniform4fv(current->location[u], 1, v.data());
    }
    void setVec3Array(Uniform u, const float* v, int count) {
        if (current->location[u] >= 0 && changed(u, v, std::size_t(count) * 3))
            gl->glUniform3fv(current->location[u], count, v);
    }
    void setVec4Array(Uniform u, const float* v, int count) {
        if (current->location[u] >= 0 && changed(u, v, std::size_t(count) * 4))
            gl->glUniform4fv(current->location[u], count, v);
    }
    // Row-major row-vector matrices read column-major are exactly the
    // column-vector matrices GLSL multiplies with: no transpose.
    void setMat4(Uniform u, const Mat4& m) {
        if (current->location[u] >= 0 && changed(u, m.data(), 16))
            gl->glUniformMatrix4fv(current->location[u], 1, GL_FALSE, m.data());
    }
    void setMat3(Uniform u, const std::array<float, 9>& m) {
        if (current->location[u] >= 0 && changed(u, m.data(), 9))
            gl->glUniformMatrix3fv(current->location[u], 1, GL_FALSE, m.data());
    }

    Program* program(const ShaderKey& key);
    void use(Program* p) {
        if (p != current) {
            gl->glUseProgram(p->id);
            current = p;
        }
    }
    void deleteTargets();
    void forgetGlState() {
        raster = RasterState{};
        current = nullptr;
    }
    void enable(GLenum cap, int on, int& cached) {
        if (on != cached) {
            on ? gl->glEnable(cap) : gl->glDisable(cap);
            cached = on;
        }
    }
    void setViewport(GLint x, GLint y, GLint w, GLint h) {
        const GLint v[4] = {x, y, w, h};
        if (std::memcmp(v, raster.viewport, sizeof v) != 0) {
            gl->glViewport(x, y, w, h);
            std::memcpy(raster.viewport, v, sizeof v);
        }
    }
    void setScissor(GLint x, GLint y, GLint w, GLint h) {
        const GLint v[4] = {x, y, w, h};
        if (std::memcmp(v, raster.scissor, sizeof v) != 0) {
            gl->glScissor(x, y, w, h);
            std::memcpy(raster.scissor, v, sizeof v);
        }
    }
    bool applyRaster(const FixedFunctionState& s, bool pretransformed);
    void applyUniforms(const FixedFunctionState& s, const ShaderKey& key);
    // Reads the errors the driver holds, at most kErrorSweep of them (a
    // lost context may answer an error forever), writes each code not said
    // before to standard error with the driver's words where it has them,
    // and answers the first (GL_NO_ERROR when there was none).
    GLenum sweepErrors();
    // The result of the allocation just asked of GL: D3DERR_OUTOFVIDEOMEMORY
    // when the driver refused it. Errors of earlier calls were swept before.
    HRESULT allocationResult();
    // The GL copy of the data, uploaded when it changed. A failed upload
    // is not marked done, so the next use tries again.
    HRESULT buffer(const VertexData& data, GpuBuffer** out);
    HRESULT texture(const TextureData* data, GpuTexture** out);
    GLuint sampler(const DWORD* samplerState);
    void bindLayout(const GpuBuffer& b, UINT offset, UINT stride, DWORD fvf);
};

}  // namespace platform::hal
