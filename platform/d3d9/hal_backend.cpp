#include "platform/d3d9/hal_backend.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "platform/d3d9/device.h"
#include "platform/d3d9/hal_shaders.h"
#include "platform/d3d9/test_hooks.h"

namespace platform::hal {

using namespace d3d9;

namespace {

using Mat4 = std::array<float, 16>;

Mat4 toArray(const D3DMATRIX& m) {
    Mat4 r;
    std::memcpy(r.data(), &m.m[0][0], sizeof r);
    return r;
}

// Normals go through the inverse transpose of world-view (row vectors:
// n' = n * inverse(M)^T, the cofactor matrix over the determinant).
std::array<float, 9> normalMatrix(const D3DMATRIX& worldView) {
    const float(&a)[4][4] = worldView.m;
    const float c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    const float c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    const float c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    const float det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
    if (det == 0.0f)
        return {};
    const float inv = 1.0f / det;
    return {c00 * inv,
            c01 * inv,
            c02 * inv,
            (a[0][2] * a[2][1] - a[0][1] * a[2][2]) * inv,
            (a[0][0] * a[2][2] - a[0][2] * a[2][0]) * inv,
            (a[0][1] * a[2][0] - a[0][0] * a[2][1]) * inv,
            (a[0][1] * a[1][2] - a[0][2] * a[1][1]) * inv,
            (a[0][2] * a[1][0] - a[0][0] * a[1][2]) * inv,
            (a[0][0] * a[1][1] - a[0][1] * a[1][0]) * inv};
}

std::array<float, 4> unpackColor(D3DCOLOR c) {
    return {float((c >> 16) & 0xFF) / 255.0f, float((c >> 8) & 0xFF) / 255.0f, float(c & 0xFF) / 255.0f,
            float(c >> 24) / 255.0f};
}

std::array<float, 4> toArray(const D3DCOLORVALUE& c) { return {c.r, c.g, c.b, c.a}; }

GLenum blendFactor(DWORD f) {
    switch (f) {
    case D3DBLEND_ZERO: return GL_ZERO;
    case D3DBLEND_ONE: return GL_ONE;
    case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
    case D3DBLEND_BLENDFACTOR: return GL_CONSTANT_COLOR;
    case D3DBLEND_INVBLENDFACTOR: return GL_ONE_MINUS_CONSTANT_COLOR;
    default: return GL_ONE;
    }
}

GLenum blendEquation(DWORD op) {
    switch (op) {
    case D3DBLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
    case D3DBLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
    case D3DBLENDOP_MIN: return GL_MIN;
    case D3DBLENDOP_MAX: return GL_MAX;
    default: return GL_FUNC_ADD;
    }
}

GLenum compareFunc(DWORD func) {
    switch (func) {
    case D3DCMP_NEVER: return GL_NEVER;
    case D3DCMP_LESS: return GL_LESS;
    case D3DCMP_EQUAL: return GL_EQUAL;
    case D3DCMP_LESSEQUAL: return GL_LEQUAL;
    case D3DCMP_GREATER: return GL_GREATER;
    case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
    default: return GL_ALWAYS;
    }
}

// Border and mirror-once addressing behave as clamp and wrap on REF; HAL
// follows so that both draw the same picture.
GLint addressMode(DWORD mode) {
    switch (mode) {
    case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP:
    case D3DTADDRESS_BORDER: return GL_CLAMP_TO_EDGE;
    default: return GL_REPEAT;
    }
}

GLint filterMode(DWORD filter) { return filter == D3DTEXF_POINT || filter == D3DTEXF_NONE ? GL_NEAREST : GL_LINEAR; }

// How a texture format travels to GL: storage, pixel layout, and whether the
// format has no alpha of its own (then alpha reads as one).
struct TexelLayout {
    GLenum internal = 0, format = 0, type = 0;
    UINT bytes = 0;
    bool opaque = false;
};

TexelLayout texelLayout(D3DFORMAT f) {
    switch (f) {
    case D3DFMT_A8R8G8B8: return {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, 4, false};
    case D3DFMT_X8R8G8B8: return {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, 4, true};
    case D3DFMT_A4R4G4B4: return {GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, 2, false};
    case D3DFMT_X4R4G4B4: return {GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, 2, true};
    case D3DFMT_R5G6B5: return {GL_RGB8, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, 2, true};
    case D3DFMT_A1R5G5B5: return {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, 2, false};
    case D3DFMT_X1R5G5B5: return {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, 2, true};
    default: return {};
    }
}

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

constexpr const char* kCopyVertex = R"(#version 330 core
void main() {
    // One triangle that covers the viewport.
    vec2 p = vec2(float((gl_VertexID & 1) * 4 - 1), float((gl_VertexID & 2) * 2 - 1));
    gl_Position = vec4(p, 0.0, 1.0);
}
)";

constexpr const char* kCopyFragment = R"(#version 330 core
uniform sampler2D uImage;
uniform ivec2 uOrigin;
out vec4 fragColor;
void main() { fragColor = texelFetch(uImage, ivec2(gl_FragCoord.xy) - uOrigin, 0); }
)";

// Test faults (test_hooks.h): never set by the program.
bool creationFails = false;
bool shadersBroken = false;

std::string shaderLog(GL& gl, GLuint shader) {
    GLint length = 0;
    gl.glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::string log(std::size_t(std::max(length, 1)), '\0');
    gl.glGetShaderInfoLog(shader, GLsizei(log.size()), nullptr, log.data());
    log.resize(std::strlen(log.c_str()));
    return log;
}

std::string programLog(GL& gl, GLuint program) {
    GLint length = 0;
    gl.glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    std::string log(std::size_t(std::max(length, 1)), '\0');
    gl.glGetProgramInfoLog(program, GLsizei(log.size()), nullptr, log.data());
    log.resize(std::strlen(log.c_str()));
    return log;
}

// A failure leaves the compiler's or linker's words in `log`.
GLuint compile(GL& gl, GLenum type, const std::string& source, std::string& log) {
    GLuint shader = gl.glCreateShader(type);
    const char* text = source.c_str();
    gl.glShaderSource(shader, 1, &text, nullptr);
    gl.glCompileShader(shader);
    GLint ok = 0;
    gl.glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        log += type == GL_VERTEX_SHADER ? "vertex shader: " : "fragment shader: ";
        log += shaderLog(gl, shader);
        gl.glDeleteShader(shader);
        return 0;
    }
    return shader;
}

GLuint link(GL& gl, const std::string& vertex, const std::string& fragment, std::string& log) {
    const GLuint vs = compile(gl, GL_VERTEX_SHADER, vertex, log);
    const GLuint fs = compile(gl, GL_FRAGMENT_SHADER, fragment, log);
    GLuint program = 0;
    if (vs && fs) {
        program = gl.glCreateProgram();
        gl.glAttachShader(program, vs);
        gl.glAttachShader(program, fs);
        gl.glBindFragDataLocation(program, 0, "fragColor");
        gl.glLinkProgram(program);
        GLint ok = 0;
        gl.glGetProgramiv(program, GL_LINK_STATUS, &ok);
        if (!ok) {
            log += "link: ";
            log += programLog(gl, program);
            gl.glDeleteProgram(program);
            program = 0;
        }
    }
    if (vs)
        gl.glDeleteShader(vs);
    if (fs)
        gl.glDeleteShader(fs);
    return program;
}

void reportBuildFailure(const char* what, const std::string& log) {
    std::fprintf(stderr, "HAL: %s could not be built; its draws fail.\n%s\n", what, log.c_str());
    std::fflush(stderr);
}

}  // namespace

struct HalBackend::Impl {
    GL* gl = nullptr;
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
    GpuBuffer* buffer(const VertexData& data);
    GpuTexture* texture(const TextureData* data);
    GLuint sampler(const DWORD* samplerState);
    void bindLayout(const GpuBuffer& b, UINT offset, UINT stride, DWORD fvf);
};

Program* HalBackend::Impl::program(const ShaderKey& key) {
    std::string bytes = key.bytes();
    if (lastProgram && bytes == lastKey)
        return lastProgram;
    std::unique_ptr<Program>& slot = programs[bytes];
    if (slot) {
        lastKey = std::move(bytes);
        lastProgram = slot.get();
        return lastProgram;
    }
    if (failedPrograms.count(bytes)) {
        programs.erase(bytes);
        return nullptr;
    }
    std::string fragment = fragmentShaderSource(key);
    if (shadersBroken)
        fragment += "\n#error broken on purpose by a test\n";
    std::string log;
    const GLuint id = link(*gl, vertexShaderSource(key), fragment, log);
    if (!id) {
        programs.erase(bytes);
        failedPrograms.insert(bytes);
        reportBuildFailure("a fixed-function program", log);
        return nullptr;
    }
    slot = std::make_unique<Program>();
    slot->id = id;
    use(slot.get());
    lastKey = std::move(bytes);
    lastProgram = slot.get();
    for (int u = 0; u < kUniformCount; ++u)
        slot->location[u] = gl->glGetUniformLocation(id, kUniformNames[u]);
    for (int s = 0; s < kMaxTextureStages; ++s) {
        const GLint at = gl->glGetUniformLocation(id, ("uTexture" + std::to_string(s)).c_str());
        if (at >= 0)
            gl->glUniform1i(at, s);
    }
    return slot.get();
}

void HalBackend::Impl::deleteTargets() {
    const GLuint fbos[2] = {frameBuffer, resolveFrameBuffer};
    const GLuint rbs[3] = {colorBuffer, depthBuffer, resolveColorBuffer};
    gl->glBindFramebuffer(GL_FRAMEBUFFER, 0);
    gl->glDeleteFramebuffers(2, fbos);
    gl->glDeleteRenderbuffers(3, rbs);
    frameBuffer = resolveFrameBuffer = colorBuffer = depthBuffer = resolveColorBuffer = 0;
    width = height = samples = 0;
    hasDepth = false;
}

bool HalBackend::Impl::applyRaster(const FixedFunctionState& s, bool pretransformed) {
    const DWORD* rs = s.renderState;
    const D3DVIEWPORT9& vp = s.viewport;
    // Drawing stays inside the viewport and the target, as on REF.
    const GLint x0 = GLint(std::min<DWORD>(vp.X, DWORD(width))), y0 = GLint(std::min<DWORD>(vp.Y, DWORD(height)));
    const GLint x1 = GLint(std::min<DWORD>(vp.X + vp.Width, DWORD(width)));
    const GLint y1 = GLint(std::min<DWORD>(vp.Y + vp.Height, DWORD(height)));
    if (x0 >= x1 || y0 >= y1)
        return false;
    setScissor(x0, y0, x1 - x0, y1 - y0);
    float range[2] = {vp.MinZ, vp.MaxZ};
    if (pretransformed) {
        // Screen-space vertices are placed against the whole target, and
        // REF never clips their depth.
        setViewport(0, 0, width, height);
        range[0] = 0.0f, range[1] = 1.0f;
    } else {
        // Rows are stored top first, so the device's viewport origin is GL's.
        setViewport(GLint(vp.X), GLint(vp.Y), GLint(vp.Width), GLint(vp.Height));
    }
    if (range[0] != raster.depthRange[0] || range[1] != raster.depthRange[1]) {
        gl->glDepthRange(range[0], range[1]);
        raster.depthRange[0] = range[0], raster.depthRange[1] = range[1];
    }
    enable(GL_DEPTH_CLAMP, pretransformed ? 1 : 0, raster.depthClamp);

    // Top row first mirrors GL's idea of winding: a triangle that runs
    // clockwise on the device's screen is counter-clockwise to GL.
    const DWORD cullMode = rs[D3DRS_CULLMODE];
    const int cull = cullMode == D3DCULL_CW ? 2 : cullMode == D3DCULL_CCW ? 3 : 1;
    if (cull != raster.cull) {
        if (cull == 1) {
            gl->glDisable(GL_CULL_FACE);
        } else {
            gl->glEnable(GL_CULL_FACE);
            gl->glCullFace(cull == 3 ? GL_BACK : GL_FRONT);
        }
        raster.cull = cull;
    }

    const int depthTest = hasDepth && rs[D3DRS_ZENABLE] != D3DZB_FALSE ? 1 : 0;
    enable(GL_DEPTH_TEST, depthTest, raster.depthTest);
    if (depthTest) {
        const int depthWrite = rs[D3DRS_ZWRITEENABLE] ? 1 : 0;
        if (depthWrite != raster.depthWrite) {
            gl->glDepthMask(depthWrite ? GL_TRUE : GL_FALSE);
            raster.depthWrite = depthWrite;
        }
        const GLenum func = compareFunc(rs[D3DRS_ZFUNC]);
        if (func != raster.depthFunc) {
            gl->glDepthFunc(func);
            raster.depthFunc = func;
        }
    }

    const int blend = rs[D3DRS_ALPHABLENDENABLE] ? 1 : 0;
    enable(GL_BLEND, blend, raster.blend);
    if (blend) {
        GLenum src = blendFactor(rs[D3DRS_SRCBLEND]), dst = blendFactor(rs[D3DRS_DESTBLEND]);
        // The "both" factors set source and destination at once.
        if (rs[D3DRS_SRCBLEND] == D3DBLEND_BOTHSRCALPHA)
            src = GL_SRC_ALPHA, dst = GL_ONE_MINUS_SRC_ALPHA;
        else if (rs[D3DRS_SRCBLEND] == D3DBLEND_BOTHINVSRCALPHA)
            src = GL_ONE_MINUS_SRC_ALPHA, dst = GL_SRC_ALPHA;
        if (src != raster.srcBlend || dst != raster.dstBlend) {
            gl->glBlendFunc(src, dst);
            raster.srcBlend = src, raster.dstBlend = dst;
        }
        const GLenum equation = blendEquation(rs[D3DRS_BLENDOP]);
        if (equation != raster.equation) {
            gl->glBlendEquation(equation);
            raster.equation = equation;
        }
        if (!raster.blendColorSet || raster.blendColor != rs[D3DRS_BLENDFACTOR]) {
            const std::array<float, 4> c = unpackColor(rs[D3DRS_BLENDFACTOR]);
            gl->glBlendColor(c[0], c[1], c[2], c[3]);
            raster.blendColor = rs[D3DRS_BLENDFACTOR];
            raster.blendColorSet = true;
        }
    }

    const DWORD mask = rs[D3DRS_COLORWRITEENABLE] & (opaque ? 0x7 : 0xF);
    if (mask != raster.colorMask) {
        gl->glColorMask((mask & D3DCOLORWRITEENABLE_RED) != 0, (mask & D3DCOLORWRITEENABLE_GREEN) != 0,
                        (mask & D3DCOLORWRITEENABLE_BLUE) != 0, (mask & D3DCOLORWRITEENABLE_ALPHA) != 0);
        raster.colorMask = mask;
    }
    return true;
}

void HalBackend::Impl::applyUniforms(const FixedFunctionState& s, const ShaderKey& key) {
    setVec2(uTargetSize, float(width), float(height));
    if (!key.pretransformed) {
        setVec2(uViewportSize, float(s.viewport.Width), float(s.viewport.Height));
        const D3DMATRIX worldView = multiplyTransforms(s.world, s.view);
        setMat4(uWorldViewProjection, toArray(multiplyTransforms(worldView, s.projection)));
        if (key.lighting) {
            setMat3(uNormalMatrix, normalMatrix(worldView));
            setVec4(uGlobalAmbient, unpackColor(s.renderState[D3DRS_AMBIENT]));
            setVec4(uMaterialDiffuse, toArray(s.material.Diffuse));
            setVec4(uMaterialAmbient, toArray(s.material.Ambient));
            setVec4(uMaterialEmissive, toArray(s.material.Emissive));
            float toward[kMaxActiveLights * 3] = {}, diffuse[kMaxActiveLights * 4] = {},
                  ambient[kMaxActiveLights * 4] = {};
            int n = 0;
            for (UINT i = 0; i < s.lightCount && i < UINT(kMaxActiveLights); ++i) {
                const D3DLIGHT9& l = s.lights[i];
                if (l.Type != D3DLIGHT_DIRECTIONAL)
                    continue;
                // In view space and pointing back at the light, which travels
                // along its direction.
                const float* d = &l.Direction.x;
                float v[3];
                for (int j = 0; j < 3; ++j)
                    v[j] = -(d[0] * s.view.m[0][j] + d[1] * s.view.m[1][j] + d[2] * s.view.m[2][j]);
                const float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
                for (int j = 0; j < 3; ++j)
                    toward[n * 3 + j] = len > 0.0f ? v[j] / len : v[j];
                const std::array<float, 4> ld = toArray(l.Diffuse), la = toArray(l.Ambient);
                std::copy(ld.begin(), ld.end(), diffuse + n * 4);
                std::copy(la.begin(), la.end(), ambient + n * 4);
                ++n;
            }
            if (n) {
                setVec3Array(uLightToward, toward, n);
                setVec4Array(uLightDiffuse, diffuse, n);
                setVec4Array(uLightAmbient, ambient, n);
            }
        }
    }
    if (key.stageCount)
        setVec4(uTextureFactor, unpackColor(s.renderState[D3DRS_TEXTUREFACTOR]));
    if (key.alphaTest)
        setInt(uAlphaRef, int(s.renderState[D3DRS_ALPHAREF] & 0xFF));
}

GpuBuffer* HalBackend::Impl::buffer(const VertexData& data) {
    if (!data.bytes || data.size == 0)
        return nullptr;
    GpuBuffer& b = buffers[data.id];
    if (!b.name)
        gl->glGenBuffers(1, &b.name);
    if (b.version != data.version || b.size != data.size) {
        gl->glBindBuffer(GL_ARRAY_BUFFER, b.name);
        // Replacing the whole store lets the driver orphan the old one
        // instead of waiting for draws that still read it.
        gl->glBufferData(GL_ARRAY_BUFFER, data.size, data.bytes, GL_DYNAMIC_DRAW);
        b.version = data.version;
        b.size = data.size;
        layoutBuffer = 0;
    }
    return &b;
}

GpuTexture* HalBackend::Impl::texture(const TextureData* data) {
    if (!data || !data->bits || data->width == 0 || data->height == 0)
        return nullptr;
    const TexelLayout layout = texelLayout(data->format);
    if (!layout.internal)
        return nullptr;
    GpuTexture& t = textures[data->id];
    if (!t.name)
        gl->glGenTextures(1, &t.name);
    if (t.version == data->version && t.width == data->width && t.height == data->height && t.format == data->format)
        return &t;
    gl->glBindTexture(GL_TEXTURE_2D, t.name);
    std::vector<BYTE> packed;
    const BYTE* pixels = data->bits;
    if (data->pitch % layout.bytes == 0) {
        gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(data->pitch / layout.bytes));
    } else {
        const std::size_t row = std::size_t(data->width) * layout.bytes;
        packed.resize(row * data->height);
        for (UINT y = 0; y < data->height; ++y)
            std::memcpy(packed.data() + y * row, data->bits + std::size_t(y) * data->pitch, row);
        pixels = packed.data();
    }
    if (t.width == data->width && t.height == data->height && t.format == data->format) {
        gl->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, GLsizei(data->width), GLsizei(data->height), layout.format,
                            layout.type, pixels);
    } else {
        gl->glTexImage2D(GL_TEXTURE_2D, 0, GLint(layout.internal), GLsizei(data->width), GLsizei(data->height), 0,
                         layout.format, layout.type, pixels);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, layout.opaque ? GL_ONE : GL_ALPHA);
    }
    gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    t.version = data->version;
    t.width = data->width;
    t.height = data->height;
    t.format = data->format;
    return &t;
}

GLuint HalBackend::Impl::sampler(const DWORD* ss) {
    const GLint minFilter = filterMode(ss[D3DSAMP_MINFILTER]), magFilter = filterMode(ss[D3DSAMP_MAGFILTER]);
    const GLint wrapS = addressMode(ss[D3DSAMP_ADDRESSU]), wrapT = addressMode(ss[D3DSAMP_ADDRESSV]);
    const std::uint32_t key = std::uint32_t(minFilter == GL_LINEAR) | std::uint32_t(magFilter == GL_LINEAR) << 1 |
                              std::uint32_t(ss[D3DSAMP_ADDRESSU] & 0xFF) << 8 |
                              std::uint32_t(ss[D3DSAMP_ADDRESSV] & 0xFF) << 16;
    GLuint& s = samplers[key];
    if (!s) {
        gl->glGenSamplers(1, &s);
        gl->glSamplerParameteri(s, GL_TEXTURE_MIN_FILTER, minFilter);
        gl->glSamplerParameteri(s, GL_TEXTURE_MAG_FILTER, magFilter);
        gl->glSamplerParameteri(s, GL_TEXTURE_WRAP_S, wrapS);
        gl->glSamplerParameteri(s, GL_TEXTURE_WRAP_T, wrapT);
    }
    return s;
}

void HalBackend::Impl::bindLayout(const GpuBuffer& b, UINT offset, UINT stride, DWORD fvf) {
    if (b.name == layoutBuffer && offset == layoutOffset && stride == layoutStride && fvf == layoutFvf)
        return;
    layoutBuffer = b.name;
    layoutOffset = offset;
    layoutStride = stride;
    layoutFvf = fvf;
    gl->glBindBuffer(GL_ARRAY_BUFFER, b.name);

    auto at = [](std::uintptr_t bytes) { return reinterpret_cast<const void*>(bytes); };
    const DWORD position = fvf & D3DFVF_POSITION_MASK;
    std::uintptr_t cursor = offset;
    if (position == D3DFVF_XYZRHW) {
        gl->glVertexAttribPointer(kPosition, 4, GL_FLOAT, GL_FALSE, GLsizei(stride), at(cursor));
        cursor += 16;
    } else {
        gl->glVertexAttribPointer(kPosition, 3, GL_FLOAT, GL_FALSE, GLsizei(stride), at(cursor));
        // Blend weights follow the position; nothing here reads them.
        cursor += position >= D3DFVF_XYZB1 && position <= D3DFVF_XYZB5 ? 12 + 4 * ((position - D3DFVF_XYZ) / 2) : 12;
    }
    gl->glEnableVertexAttribArray(kPosition);
    // Parts the vertex lacks are not read: the shader substitutes the fixed
    // function's defaults for them.
    auto part = [&](Attribute slot, bool present, GLint size, GLenum type, GLboolean normalized, UINT bytes) {
        if (present) {
            gl->glVertexAttribPointer(slot, size, type, normalized, GLsizei(stride), at(cursor));
            gl->glEnableVertexAttribArray(slot);
            cursor += bytes;
        } else {
            gl->glDisableVertexAttribArray(slot);
        }
    };
    part(kNormal, (fvf & D3DFVF_NORMAL) != 0, 3, GL_FLOAT, GL_FALSE, 12);
    if (fvf & D3DFVF_PSIZE)
        cursor += 4;
    // A D3DCOLOR is B, G, R, A in memory: GL's BGRA attribute order.
    part(kDiffuse, (fvf & D3DFVF_DIFFUSE) != 0, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 4);
    part(kSpecular, (fvf & D3DFVF_SPECULAR) != 0, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 4);
    const int sets = int((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
    static const UINT kSetBytes[4] = {8, 12, 16, 4};
    for (int i = 0; i < 2; ++i) {
        const Attribute slot = i == 0 ? kTexCoord0 : kTexCoord1;
        if (i < sets) {
            const UINT bytes = kSetBytes[(fvf >> (16 + 2 * i)) & 3];
            gl->glVertexAttribPointer(slot, bytes >= 8 ? 2 : 1, GL_FLOAT, GL_FALSE, GLsizei(stride), at(cursor));
            gl->glEnableVertexAttribArray(slot);
            cursor += bytes;
        } else {
            gl->glDisableVertexAttribArray(slot);
        }
    }
}

std::unique_ptr<HalBackend> HalBackend::create() {
    if (creationFails)
        return nullptr;
    std::unique_ptr<HalBackend> b(new HalBackend);
    if (!b->makeContext())
        return nullptr;
    return b;
}

bool HalBackend::makeContext() {
    std::unique_ptr<HalContext> context = HalContext::create();
    if (!context)
        return false;
    context_ = std::move(context);
    impl_ = std::make_unique<Impl>();
    lossReported_ = false;
    Impl& impl = *impl_;
    impl.gl = &context_->gl();
    GL& gl = *impl.gl;
    std::string log;
    impl.copyProgram = link(gl, kCopyVertex, kCopyFragment, log);
    if (!impl.copyProgram) {
        reportBuildFailure("the presentation program", log);
        return false;
    }
    gl.glUseProgram(impl.copyProgram);
    gl.glUniform1i(gl.glGetUniformLocation(impl.copyProgram, "uImage"), 0);
    impl.copyOrigin = gl.glGetUniformLocation(impl.copyProgram, "uOrigin");
    gl.glGenVertexArrays(1, &impl.copyVao);
    gl.glGenVertexArrays(1, &impl.vao);
    gl.glBindVertexArray(impl.vao);
    gl.glDisable(GL_DITHER);
    gl.glEnable(GL_SCISSOR_TEST);
    gl.glFrontFace(GL_CCW);
    // Flat shading takes the first vertex's colour, as on the device.
    gl.glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
    gl.glPixelStorei(GL_PACK_ALIGNMENT, 4);
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    return gl.glGetError() == GL_NO_ERROR;
}

bool HalBackend::contextLost() const {
    if (context_ && context_->isValid())
        return false;
    if (!lossReported_) {
        lossReported_ = true;
        std::fprintf(stderr, "HAL: the OpenGL context was lost; the device must be reset.\n");
        std::fflush(stderr);
    }
    return true;
}

HRESULT HalBackend::restoreContext() {
    if (!contextLost())
        return D3D_OK;
    // Whatever GL held went with the old context; the device's resources
    // are uploaded again from its own copies as they are drawn.
    impl_.reset();
    context_.reset();
    return makeContext() ? D3D_OK : D3DERR_NOTAVAILABLE;
}

void HalBackend::loseContext() {
    if (context_)
        context_->discard();
}

HalBackend::~HalBackend() {
    if (!impl_ || !context_ || !context_->makeCurrent())
        return;
    Impl& impl = *impl_;
    GL& gl = *impl.gl;
    impl.deleteTargets();
    for (auto& [key, p] : impl.programs)
        gl.glDeleteProgram(p->id);
    for (auto& [id, b] : impl.buffers)
        gl.glDeleteBuffers(1, &b.name);
    for (auto& [id, t] : impl.textures)
        gl.glDeleteTextures(1, &t.name);
    for (auto& [key, s] : impl.samplers)
        gl.glDeleteSamplers(1, &s);
    gl.glDeleteProgram(impl.copyProgram);
    gl.glDeleteVertexArrays(1, &impl.vao);
    gl.glDeleteVertexArrays(1, &impl.copyVao);
}

std::string HalBackend::description() const { return context_ ? context_->renderer() : std::string(); }

int HalBackend::samples() const { return impl_ ? impl_->samples : 0; }

std::size_t HalBackend::programCount() const { return impl_ ? impl_->programs.size() : 0; }

HRESULT HalBackend::resize(const BufferSetup& setup) {
    if (contextLost())
        return D3DERR_DEVICELOST;
    if (setup.width == 0 || setup.height == 0)
        return D3DERR_INVALIDCALL;
    if (setup.colorFormat != D3DFMT_A8R8G8B8 && setup.colorFormat != D3DFMT_X8R8G8B8)
        return D3DERR_NOTAVAILABLE;
    if (int(setup.width) > context_->maxTextureSize() || int(setup.height) > context_->maxTextureSize())
        return D3DERR_NOTAVAILABLE;
    GLenum depthStorage = 0;
    if (setup.depthFormat != D3DFMT_UNKNOWN) {
        depthStorage = glDepthFormatFor(setup.depthFormat);
        if (!depthStorage || !halSupportsDepthFormat(setup.depthFormat))
            return D3DERR_NOTAVAILABLE;
    }
    int samples = 0;
    if (setup.multiSampleType == D3DMULTISAMPLE_NONMASKABLE)
        // Quality levels count up from two samples, doubling.
        samples = 2 << std::min<DWORD>(setup.multiSampleQuality, 4);
    else if (setup.multiSampleType >= D3DMULTISAMPLE_2_SAMPLES)
        samples = int(setup.multiSampleType);
    if (samples > context_->maxSamples())
        return D3DERR_NOTAVAILABLE;
    if (!context_->makeCurrent())
        return D3DERR_NOTAVAILABLE;

    Impl& impl = *impl_;
    GL& gl = *impl.gl;
    impl.deleteTargets();
    while (gl.glGetError() != GL_NO_ERROR) {
    }
    // X8 targets are stored with alpha too (reading back RGB storage costs a
    // conversion), but their alpha is never written after the clear to one,
    // so destination alpha reads as one, as on the device.
    const GLenum colorStorage = GL_RGBA8;
    const GLsizei w = GLsizei(setup.width), h = GLsizei(setup.height);

    gl.glGenFramebuffers(1, &impl.frameBuffer);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, impl.frameBuffer);
    gl.glGenRenderbuffers(1, &impl.colorBuffer);
    gl.glBindRenderbuffer(GL_RENDERBUFFER, impl.colorBuffer);
    gl.glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, colorStorage, w, h);
    gl.glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, impl.colorBuffer);
    if (depthStorage) {
        gl.glGenRenderbuffers(1, &impl.depthBuffer);
        gl.glBindRenderbuffer(GL_RENDERBUFFER, impl.depthBuffer);
        gl.glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, depthStorage, w, h);
        gl.glFramebufferRenderbuffer(
            GL_FRAMEBUFFER, depthStorage == GL_DEPTH24_STENCIL8 ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
            GL_RENDERBUFFER, impl.depthBuffer);
    }
    GLenum error = gl.glGetError();
    bool complete = error == GL_NO_ERROR && gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete && samples) {
        gl.glGenFramebuffers(1, &impl.resolveFrameBuffer);
        gl.glBindFramebuffer(GL_FRAMEBUFFER, impl.resolveFrameBuffer);
        gl.glGenRenderbuffers(1, &impl.resolveColorBuffer);
        gl.glBindRenderbuffer(GL_RENDERBUFFER, impl.resolveColorBuffer);
        gl.glRenderbufferStorage(GL_RENDERBUFFER, colorStorage, w, h);
        gl.glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, impl.resolveColorBuffer);
        error = gl.glGetError();
        complete = error == GL_NO_ERROR && gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        gl.glBindFramebuffer(GL_FRAMEBUFFER, impl.frameBuffer);
    }
    if (!complete) {
        impl.deleteTargets();
        return error == GL_OUT_OF_MEMORY ? D3DERR_OUTOFVIDEOMEMORY : D3DERR_NOTAVAILABLE;
    }
    samples ? gl.glEnable(GL_MULTISAMPLE) : gl.glDisable(GL_MULTISAMPLE);
    impl.width = int(w);
    impl.height = int(h);
    impl.samples = samples;
    impl.hasDepth = depthStorage != 0;
    impl.opaque = setup.colorFormat == D3DFMT_X8R8G8B8;
    impl.forgetGlState();
    // A new back buffer starts black with depth at its far end, like REF's.
    gl.glDisable(GL_SCISSOR_TEST);
    gl.glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    gl.glDepthMask(GL_TRUE);
    gl.glClearColor(0, 0, 0, impl.opaque ? 1.0f : 0.0f);
    gl.glClearDepth(1.0);
    gl.glClear(GL_COLOR_BUFFER_BIT | (depthStorage ? GL_DEPTH_BUFFER_BIT : 0));
    gl.glEnable(GL_SCISSOR_TEST);
    return D3D_OK;
}

void HalBackend::clear(DWORD flags, const D3DRECT* rects, UINT rectCount, D3DCOLOR color, float z, DWORD stencil) {
    if (contextLost())
        return;
    Impl& impl = *impl_;
    if (!impl.width || !context_->makeCurrent())
        return;
    GL& gl = *impl.gl;
    GLbitfield mask = 0;
    // Clears ignore the write masks, as on the device.
    if (flags & D3DCLEAR_TARGET) {
        const std::array<float, 4> c = unpackColor(color);
        gl.glClearColor(c[0], c[1], c[2], impl.opaque ? 1.0f : c[3]);
        if (impl.raster.colorMask != 0xF) {
            gl.glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
            impl.raster.colorMask = 0xF;
        }
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if ((flags & D3DCLEAR_ZBUFFER) && impl.hasDepth) {
        gl.glClearDepth(std::clamp(z, 0.0f, 1.0f));
        if (impl.raster.depthWrite != 1) {
            gl.glDepthMask(GL_TRUE);
            impl.raster.depthWrite = 1;
        }
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    if ((flags & D3DCLEAR_STENCIL) && impl.hasDepth) {
        gl.glClearStencil(GLint(stencil & 0xFF));
        mask |= GL_STENCIL_BUFFER_BIT;
    }
    if (!mask)
        return;
    auto clearRect = [&](LONG x1, LONG y1, LONG x2, LONG y2) {
        x1 = std::clamp<LONG>(x1, 0, impl.width), x2 = std::clamp<LONG>(x2, 0, impl.width);
        y1 = std::clamp<LONG>(y1, 0, impl.height), y2 = std::clamp<LONG>(y2, 0, impl.height);
        if (x2 <= x1 || y2 <= y1)
            return;
        // Rows are stored top first, so the device's rectangles are GL's.
        impl.setScissor(x1, y1, x2 - x1, y2 - y1);
        gl.glClear(mask);
    };
    if (!rects || rectCount == 0)
        clearRect(0, 0, impl.width, impl.height);
    for (UINT i = 0; rects && i < rectCount; ++i)
        clearRect(rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2);
}

HRESULT HalBackend::drawTriangles(const FixedFunctionState& state, const TriangleList& list) {
    // A lost context draws nothing; Present and TestCooperativeLevel say so.
    if (contextLost())
        return D3D_OK;
    Impl& impl = *impl_;
    if (!impl.width || list.triangleCount == 0 || !list.vertices || list.stride == 0 || !context_->makeCurrent())
        return D3D_OK;
    GL& gl = *impl.gl;
    // Never let GL read past the vertices the device handed over.
    const std::uint64_t available =
        list.vertices->size > list.offset ? (list.vertices->size - list.offset) / list.stride : 0;
    const std::uint64_t count = std::min<std::uint64_t>(std::uint64_t(list.triangleCount) * 3, available / 3 * 3);
    if (count == 0)
        return D3D_OK;

    bool textureSet[kMaxTextureStages] = {};
    GpuTexture* textures[kMaxTextureStages] = {};
    for (int s = 0; s < kMaxTextureStages; ++s) {
        if (state.stageState[s][D3DTSS_COLOROP] == D3DTOP_DISABLE)
            break;
        textures[s] = impl.texture(state.texture[s]);
        textureSet[s] = textures[s] != nullptr;
    }
    const ShaderKey key = shaderKeyFor(state, list.fvf, textureSet);
    Program* program = impl.program(key);
    GpuBuffer* buffer = impl.buffer(*list.vertices);
    if (!program)
        return D3DERR_DRIVERINTERNALERROR;
    if (!buffer || !impl.applyRaster(state, key.pretransformed))
        return D3D_OK;
    impl.use(program);
    impl.applyUniforms(state, key);
    for (int s = 0; s < key.stageCount; ++s) {
        if (!key.stages[s].samplesTexture)
            continue;
        gl.glActiveTexture(GL_TEXTURE0 + s);
        gl.glBindTexture(GL_TEXTURE_2D, textures[s]->name);
        gl.glBindSampler(GLuint(s), impl.sampler(state.samplerState[s]));
    }
    impl.bindLayout(*buffer, list.offset, list.stride, list.fvf);
    gl.glDrawArrays(GL_TRIANGLES, 0, GLsizei(count));
    return D3D_OK;
}

void HalBackend::readBackBuffer(DWORD* pixels, UINT pitch) {
    if (contextLost())
        return;
    Impl& impl = *impl_;
    if (!impl.width || !context_->makeCurrent())
        return;
    GL& gl = *impl.gl;
    if (impl.samples) {
        gl.glDisable(GL_SCISSOR_TEST);
        gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, impl.frameBuffer);
        gl.glBindFramebuffer(GL_DRAW_FRAMEBUFFER, impl.resolveFrameBuffer);
        gl.glBlitFramebuffer(0, 0, impl.width, impl.height, 0, 0, impl.width, impl.height, GL_COLOR_BUFFER_BIT,
                             GL_NEAREST);
        gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, impl.resolveFrameBuffer);
        gl.glEnable(GL_SCISSOR_TEST);
    }
    auto* out = reinterpret_cast<BYTE*>(pixels);
    // BGRA bytes are the 0xAARRGGBB words of a little-endian machine, and
    // the rows come top first because that is how we store them.
    if (pitch % 4 == 0) {
        gl.glPixelStorei(GL_PACK_ROW_LENGTH, GLint(pitch / 4));
        gl.glReadPixels(0, 0, impl.width, impl.height, GL_BGRA, GL_UNSIGNED_BYTE, out);
        gl.glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    } else {
        std::vector<BYTE> rows(std::size_t(impl.width) * impl.height * 4);
        gl.glReadPixels(0, 0, impl.width, impl.height, GL_BGRA, GL_UNSIGNED_BYTE, rows.data());
        for (int y = 0; y < impl.height; ++y)
            std::memcpy(out + std::size_t(y) * pitch, rows.data() + std::size_t(y) * impl.width * 4,
                        std::size_t(impl.width) * 4);
    }
    if (impl.samples)
        gl.glBindFramebuffer(GL_FRAMEBUFFER, impl.frameBuffer);
}

void HalBackend::writeBackBuffer(const RECT& rect, const DWORD* pixels, UINT pitch) {
    if (contextLost())
        return;
    Impl& impl = *impl_;
    if (!impl.width || !pixels || pitch % 4 != 0 || !context_->makeCurrent())
        return;
    const LONG x1 = std::max<LONG>(rect.left, 0), y1 = std::max<LONG>(rect.top, 0);
    const LONG x2 = std::min<LONG>(rect.right, impl.width), y2 = std::min<LONG>(rect.bottom, impl.height);
    if (x2 <= x1 || y2 <= y1)
        return;
    GL& gl = *impl.gl;
    // The pixels go in through a texture and a covering triangle, which works
    // for multisampled buffers too (a blit into one does not).
    GLuint image = 0;
    gl.glGenTextures(1, &image);
    gl.glActiveTexture(GL_TEXTURE0);
    gl.glBindTexture(GL_TEXTURE_2D, image);
    gl.glBindSampler(0, 0);
    gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(pitch / 4));
    gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(rect.right - rect.left), GLsizei(rect.bottom - rect.top), 0,
                    GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);

    gl.glUseProgram(impl.copyProgram);
    gl.glUniform2i(impl.copyOrigin, GLint(rect.left), GLint(rect.top));
    gl.glDisable(GL_DEPTH_TEST);
    gl.glDisable(GL_BLEND);
    gl.glDisable(GL_CULL_FACE);
    gl.glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, impl.opaque ? GL_FALSE : GL_TRUE);
    gl.glViewport(0, 0, impl.width, impl.height);
    gl.glScissor(x1, y1, x2 - x1, y2 - y1);
    gl.glBindVertexArray(impl.copyVao);
    gl.glDrawArrays(GL_TRIANGLES, 0, 3);
    gl.glBindVertexArray(impl.vao);
    gl.glDeleteTextures(1, &image);
    impl.forgetGlState();
}

void HalBackend::forget(std::uint64_t id) {
    if (contextLost())
        return;
    Impl& impl = *impl_;
    if (!context_->makeCurrent())
        return;
    if (auto b = impl.buffers.find(id); b != impl.buffers.end()) {
        if (b->second.name == impl.layoutBuffer)
            impl.layoutBuffer = 0;
        impl.gl->glDeleteBuffers(1, &b->second.name);
        impl.buffers.erase(b);
    }
    if (auto t = impl.textures.find(id); t != impl.textures.end()) {
        impl.gl->glDeleteTextures(1, &t->second.name);
        impl.textures.erase(t);
    }
}

}  // namespace platform::hal

namespace platform::d3d9 {

const HalCapabilities& halCapabilities() {
    static HalCapabilities none;
    if (!hal::halAvailable())
        return none;
    static const HalCapabilities caps = [] {
        HalCapabilities c;
        c.available = true;
        c.renderer = hal::halRendererName();
        c.maxTextureSize = UINT(hal::halMaxTextureSize());
        c.maxSamples = UINT(hal::halMaxSamples());
        c.supportsD16 = hal::halSupportsDepthFormat(D3DFMT_D16);
        c.supportsD24X8 = hal::halSupportsDepthFormat(D3DFMT_D24X8);
        c.supportsD24S8 = hal::halSupportsDepthFormat(D3DFMT_D24S8);
        c.supportsD32 = hal::halSupportsDepthFormat(D3DFMT_D32);
        return c;
    }();
    return caps;
}

std::unique_ptr<Backend> createHalBackend() {
    if (!hal::halAvailable())
        return nullptr;
    return hal::HalBackend::create();
}

namespace testing {

void SetHalCreationFails(bool fails) { hal::creationFails = fails; }

void SetHalShadersBroken(bool broken) { hal::shadersBroken = broken; }

bool LoseHalContext(IDirect3DDevice9* device) {
    auto* hal = device ? dynamic_cast<hal::HalBackend*>(&static_cast<Device*>(device)->backend()) : nullptr;
    if (!hal)
        return false;
    hal->loseContext();
    return true;
}

}  // namespace testing

}  // namespace platform::d3d9
