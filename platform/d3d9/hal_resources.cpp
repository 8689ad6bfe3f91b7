// HAL's GL memory: the back buffer's framebuffers, the GL copies of vertex
// buffers and textures, samplers, reading and writing the back buffer, and
// the driver's error reports. Every allocation is checked: a store the
// driver refused is never taken for uploaded.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/d3d9/hal_backend_impl.h"

namespace platform::hal {

using namespace d3d9;

bool allocationsFail = false;

namespace {

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

const char* errorName(GLenum code) {
    switch (code) {
    case GL_INVALID_ENUM: return "GL_INVALID_ENUM";
    case GL_INVALID_VALUE: return "GL_INVALID_VALUE";
    case GL_INVALID_OPERATION: return "GL_INVALID_OPERATION";
    case GL_INVALID_FRAMEBUFFER_OPERATION: return "GL_INVALID_FRAMEBUFFER_OPERATION";
    case GL_OUT_OF_MEMORY: return "GL_OUT_OF_MEMORY";
    default: return "an unknown error";
    }
}

}  // namespace

GLenum HalBackend::Impl::sweepErrors() {
    GLenum first = GL_NO_ERROR;
    std::vector<std::string> words;
    bool wordsRead = false;
    for (int i = 0; i < kErrorSweep; ++i) {
        const GLenum code = gl->glGetError();
        if (code == GL_NO_ERROR)
            break;
        if (first == GL_NO_ERROR)
            first = code;
        if (!reportedErrors.insert(code).second)
            continue;
        if (!wordsRead) {
            words = context->driverErrorMessages(kErrorSweep);
            wordsRead = true;
        }
        // The driver's own message names the call that failed.
        std::string said;
        for (const std::string& w : words)
            said += "; " + w;
        std::fprintf(stderr, "HAL: OpenGL reported %s (0x%04X)%s\n", errorName(code), unsigned(code), said.c_str());
        std::fflush(stderr);
    }
    if (!wordsRead)
        context->driverErrorMessages(kErrorSweep);  // keep the driver's log from filling up
    return first;
}

HRESULT HalBackend::Impl::allocationResult() {
    return sweepErrors() == GL_NO_ERROR ? D3D_OK : D3DERR_OUTOFVIDEOMEMORY;
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

HRESULT HalBackend::Impl::buffer(const VertexData& data, GpuBuffer** out) {
    *out = nullptr;
    if (!data.bytes || data.size == 0)
        return D3D_OK;
    GpuBuffer& b = buffers[data.id];
    if (!b.name)
        gl->glGenBuffers(1, &b.name);
    if (b.version != data.version || b.size != data.size) {
        sweepErrors();
        gl->glBindBuffer(GL_ARRAY_BUFFER, b.name);
        // Replacing the whole store lets the driver orphan the old one
        // instead of waiting for draws that still read it.
        gl->glBufferData(GL_ARRAY_BUFFER, allocationsFail ? GLsizeiptr(-1) : GLsizeiptr(data.size), data.bytes,
                         GL_DYNAMIC_DRAW);
        layoutBuffer = 0;
        const HRESULT hr = allocationResult();
        if (FAILED(hr)) {
            b.version = ~std::uint64_t(0);
            return hr;
        }
        b.version = data.version;
        b.size = data.size;
    }
    *out = &b;
    return D3D_OK;
}

HRESULT HalBackend::Impl::texture(const TextureData* data, GpuTexture** out) {
    *out = nullptr;
    if (!data || !data->bits || data->width == 0 || data->height == 0)
        return D3D_OK;
    const TexelLayout layout = texelLayout(data->format);
    if (!layout.internal)
        return D3D_OK;
    GpuTexture& t = textures[data->id];
    if (!t.name)
        gl->glGenTextures(1, &t.name);
    if (t.version == data->version && t.width == data->width && t.height == data->height && t.format == data->format) {
        *out = &t;
        return D3D_OK;
    }
    sweepErrors();
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
    if (t.width == data->width && t.height == data->height && t.format == data->format && !allocationsFail) {
        gl->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, GLsizei(data->width), GLsizei(data->height), layout.format,
                            layout.type, pixels);
    } else {
        gl->glTexImage2D(GL_TEXTURE_2D, 0, GLint(layout.internal), allocationsFail ? -1 : GLsizei(data->width),
                         GLsizei(data->height), 0, layout.format, layout.type, pixels);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, layout.opaque ? GL_ONE : GL_ALPHA);
    }
    gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    if (const HRESULT hr = allocationResult(); FAILED(hr)) {
        // Whatever storage the texture had is in doubt: the next use
        // allocates it anew.
        t.version = ~std::uint64_t(0);
        t.width = t.height = 0;
        return hr;
    }
    t.version = data->version;
    t.width = data->width;
    t.height = data->height;
    t.format = data->format;
    *out = &t;
    return D3D_OK;
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
    impl.sweepErrors();
    // X8 targets are stored with alpha too (reading back RGB storage costs a
    // conversion), but their alpha is never written after the clear to one,
    // so destination alpha reads as one, as on the device.
    const GLenum colorStorage = GL_RGBA8;
    const GLsizei w = GLsizei(setup.width), h = GLsizei(setup.height);

    gl.glGenFramebuffers(1, &impl.frameBuffer);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, impl.frameBuffer);
    gl.glGenRenderbuffers(1, &impl.colorBuffer);
    gl.glBindRenderbuffer(GL_RENDERBUFFER, impl.colorBuffer);
    gl.glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, colorStorage, allocationsFail ? -1 : w, h);
    gl.glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, impl.colorBuffer);
    if (depthStorage) {
        gl.glGenRenderbuffers(1, &impl.depthBuffer);
        gl.glBindRenderbuffer(GL_RENDERBUFFER, impl.depthBuffer);
        gl.glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, depthStorage, w, h);
        gl.glFramebufferRenderbuffer(
            GL_FRAMEBUFFER, depthStorage == GL_DEPTH24_STENCIL8 ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
            GL_RENDERBUFFER, impl.depthBuffer);
    }
    GLenum error = impl.sweepErrors();
    bool complete = error == GL_NO_ERROR && gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete && samples) {
        gl.glGenFramebuffers(1, &impl.resolveFrameBuffer);
        gl.glBindFramebuffer(GL_FRAMEBUFFER, impl.resolveFrameBuffer);
        gl.glGenRenderbuffers(1, &impl.resolveColorBuffer);
        gl.glBindRenderbuffer(GL_RENDERBUFFER, impl.resolveColorBuffer);
        gl.glRenderbufferStorage(GL_RENDERBUFFER, colorStorage, w, h);
        gl.glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, impl.resolveColorBuffer);
        error = impl.sweepErrors();
        complete = error == GL_NO_ERROR && gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        gl.glBindFramebuffer(GL_FRAMEBUFFER, impl.frameBuffer);
    }
    if (!complete) {
        impl.deleteTargets();
        return error != GL_NO_ERROR ? D3DERR_OUTOFVIDEOMEMORY : D3DERR_NOTAVAILABLE;
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

HRESULT HalBackend::readBackBuffer(DWORD* pixels, UINT pitch) {
    if (contextLost() || !context_->makeCurrent())
        return D3DERR_DEVICELOST;
    Impl& impl = *impl_;
    if (!impl.width || !pixels)
        return D3DERR_INVALIDCALL;
    GL& gl = *impl.gl;
    impl.sweepErrors();
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
        std::vector<BYTE> rows(std::size_t(impl.width) * std::size_t(impl.height) * 4);
        gl.glReadPixels(0, 0, impl.width, impl.height, GL_BGRA, GL_UNSIGNED_BYTE, rows.data());
        for (int y = 0; y < impl.height; ++y)
            std::memcpy(out + std::size_t(y) * pitch, rows.data() + std::size_t(y) * impl.width * 4,
                        std::size_t(impl.width) * 4);
    }
    if (impl.samples)
        gl.glBindFramebuffer(GL_FRAMEBUFFER, impl.frameBuffer);
    return impl.sweepErrors() == GL_NO_ERROR ? D3D_OK : D3DERR_DRIVERINTERNALERROR;
}

HRESULT HalBackend::writeBackBuffer(const RECT& rect, const DWORD* pixels, UINT pitch) {
    if (contextLost() || !context_->makeCurrent())
        return D3DERR_DEVICELOST;
    Impl& impl = *impl_;
    if (!impl.width || !pixels || pitch % 4 != 0)
        return D3DERR_INVALIDCALL;
    const LONG x1 = std::max<LONG>(rect.left, 0), y1 = std::max<LONG>(rect.top, 0);
    const LONG x2 = std::min<LONG>(rect.right, impl.width), y2 = std::min<LONG>(rect.bottom, impl.height);
    if (x2 <= x1 || y2 <= y1)
        return D3D_OK;
    GL& gl = *impl.gl;
    impl.sweepErrors();
    // The pixels go in through a texture and a covering triangle, which works
    // for multisampled buffers too (a blit into one does not).
    GLuint image = 0;
    gl.glGenTextures(1, &image);
    gl.glActiveTexture(GL_TEXTURE0);
    gl.glBindTexture(GL_TEXTURE_2D, image);
    gl.glBindSampler(0, 0);
    gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(pitch / 4));
    gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, allocationsFail ? -1 : GLsizei(rect.right - rect.left),
                    GLsizei(rect.bottom - rect.top), 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    if (const HRESULT hr = impl.allocationResult(); FAILED(hr)) {
        gl.glDeleteTextures(1, &image);
        impl.forgetGlState();
        return hr;
    }
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
    return D3D_OK;
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
