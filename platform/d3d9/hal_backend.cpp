#include "platform/d3d9/hal_backend.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/d3d9/device.h"
#include "platform/d3d9/hal_backend_impl.h"
#include "platform/d3d9/test_hooks.h"

namespace platform::hal {

using namespace d3d9;

namespace {

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
    impl.context = context_.get();
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


HRESULT HalBackend::clear(DWORD flags, const D3DRECT* rects, UINT rectCount, D3DCOLOR color, float z,
                          DWORD stencil) {
    // A lost context clears nothing, as it draws nothing; Present and
    // TestCooperativeLevel say so.
    if (contextLost())
        return D3D_OK;
    if (!context_->makeCurrent())
        return D3DERR_DRIVERINTERNALERROR;
    Impl& impl = *impl_;
    if (!impl.width)
        return D3DERR_INVALIDCALL;
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
        return D3D_OK;
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
    return D3D_OK;
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
        if (const HRESULT hr = impl.texture(state.texture[s], &textures[s]); FAILED(hr))
            return hr;
        textureSet[s] = textures[s] != nullptr;
    }
    const ShaderKey key = shaderKeyFor(state, list.fvf, textureSet);
    Program* program = impl.program(key);
    if (!program)
        return D3DERR_DRIVERINTERNALERROR;
    GpuBuffer* buffer = nullptr;
    if (const HRESULT hr = impl.buffer(*list.vertices, &buffer); FAILED(hr))
        return hr;
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

void SetHalAllocationsFail(bool fail) { hal::allocationsFail = fail; }

bool LoseHalContext(IDirect3DDevice9* device) {
    auto* hal = device ? dynamic_cast<hal::HalBackend*>(&static_cast<Device*>(device)->backend()) : nullptr;
    if (!hal)
        return false;
    hal->loseContext();
    return true;
}

}  // namespace testing

}  // namespace platform::d3d9
