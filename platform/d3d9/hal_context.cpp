#include "platform/d3d9/hal_context.h"

#include "platform/d3d9/driver_preload.h"

#include <dlfcn.h>

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLVersionFunctionsFactory>
#include <QThread>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace platform::hal {

namespace {

// Loading the OpenGL driver is most of what the first context costs: a
// software GL brings its code generator, a very large library, and binding
// it takes tens of milliseconds. Started on a helper thread by the program's
// entry point, the loading overlaps whatever comes before the first context
// (the computation and the GUI's start); making a context waits for it to
// finish. Mesa's drivers are one file under many names, so loading one name
// serves all of them. Where another OpenGL vendor ends up being used, the
// loaded library only sits there.
class DriverPreload {
public:
    void start() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (started_)
            return;
        started_ = true;
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display || std::getenv("LIBGL_DRIVERS_PATH"))
            return;
        try {
            thread_ = std::thread(&DriverPreload::load);
        } catch (const std::system_error&) {
            // No thread to spare: the first context loads the driver itself.
        }
    }
    void wait() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (thread_.joinable())
            thread_.join();
    }

private:
    // The same flags the GL libraries open them with, so that their own
    // opening later finds them ready. Both stay loaded for the process, as
    // they would after the first context anyway.
    static void load() {
        void* glx = dlopen("libGLX_mesa.so.0", RTLD_LAZY | RTLD_LOCAL);
        char folder[4096] = {};
        if (!glx || dlinfo(glx, RTLD_DI_ORIGIN, folder) != 0)
            return;
        dlopen((std::string(folder) + "/dri/swrast_dri.so").c_str(), RTLD_NOW | RTLD_GLOBAL);
    }

    std::mutex mutex_;
    bool started_ = false;
    std::thread thread_;
};

// Never destroyed: a program that ends before its first context (no window
// after all, a failed computation) does not wait for the loading at exit.
DriverPreload& driverPreload() {
    static DriverPreload* preload = new DriverPreload;
    return *preload;
}

// The probe's context, kept for the first device that asks for one: making
// a context costs tens of milliseconds on a software GL, and the first HAL
// device would otherwise make its own straight after the probe threw one
// away. A plain pointer, so that nothing destroys it after the application
// object is gone; the application's own teardown lets it go.
HalContext* spare = nullptr;

void dropSpare() {
    delete spare;
    spare = nullptr;
}
}  // namespace

std::unique_ptr<HalContext> HalContext::create() {
    // Qt needs a QGuiApplication for any context, and offscreen surfaces may
    // only be made on its thread; without either there is simply no HAL.
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        return nullptr;
    if (spare) {
        std::unique_ptr<HalContext> kept(spare);
        spare = nullptr;
        if (kept->makeCurrent())
            return kept;
    }
    return createNew();
}

std::unique_ptr<HalContext> HalContext::createNew() {
    driverPreload().wait();
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    // All drawing goes to our own framebuffer objects; the surface's own
    // buffers are never used.
    format.setDepthBufferSize(0);
    format.setStencilBufferSize(0);
    format.setSamples(0);
    format.setSwapInterval(0);

    std::unique_ptr<HalContext> hal(new HalContext);
    hal->context_ = std::make_unique<QOpenGLContext>();
    hal->context_->setFormat(format);
    if (!hal->context_->create())
        return nullptr;
    const QSurfaceFormat got = hal->context_->format();
    if (got.renderableType() != QSurfaceFormat::OpenGL || got.majorVersion() * 10 + got.minorVersion() < 33)
        return nullptr;

    hal->surface_ = std::make_unique<QOffscreenSurface>();
    hal->surface_->setFormat(got);
    hal->surface_->create();
    if (!hal->surface_->isValid() || !hal->context_->makeCurrent(hal->surface_.get()))
        return nullptr;

    hal->gl_ = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(hal->context_.get());
    if (!hal->gl_ || !hal->gl_->initializeOpenGLFunctions())
        return nullptr;

    GL& gl = *hal->gl_;
    if (const GLubyte* name = gl.glGetString(GL_RENDERER))
        hal->renderer_ = reinterpret_cast<const char*>(name);
    if (hal->renderer_.empty())
        hal->renderer_ = "OpenGL";
    gl.glGetIntegerv(GL_MAX_SAMPLES, &hal->maxSamples_);
    gl.glGetIntegerv(GL_MAX_TEXTURE_SIZE, &hal->maxTextureSize_);

    // Where the driver can put its errors in words, it keeps only those in
    // its log; the backend reads them when it finds an error.
    if (hal->context_->hasExtension("GL_KHR_debug")) {
        using DebugMessageControl = void (*)(GLenum, GLenum, GLenum, GLsizei, const GLuint*, GLboolean);
        auto control = reinterpret_cast<DebugMessageControl>(hal->context_->getProcAddress("glDebugMessageControl"));
        hal->getDebugMessageLog_ =
            reinterpret_cast<GetDebugMessageLog>(hal->context_->getProcAddress("glGetDebugMessageLog"));
        if (control && hal->getDebugMessageLog_) {
            gl.glEnable(GL_DEBUG_OUTPUT);
            control(GL_DONT_CARE, GL_DONT_CARE, GL_DONT_CARE, 0, nullptr, GL_FALSE);
            control(GL_DONT_CARE, GL_DEBUG_TYPE_ERROR, GL_DONT_CARE, 0, nullptr, GL_TRUE);
        } else {
            hal->getDebugMessageLog_ = nullptr;
        }
    }
    return hal;
}

std::vector<std::string> HalContext::driverErrorMessages(int most) {
    std::vector<std::string> said;
    if (!getDebugMessageLog_ || !isValid())
        return said;
    char text[1024];
    for (int i = 0; i < most; ++i) {
        GLsizei length = 0;
        if (getDebugMessageLog_(1, GLsizei(sizeof text), nullptr, nullptr, nullptr, nullptr, &length, text) == 0)
            break;
        said.emplace_back(text, std::size_t(std::max<GLsizei>(length - 1, 0)));
    }
    return said;
}

HalContext::~HalContext() {
    // Releasing a context that is not current would release another one.
    if (context_ && QOpenGLContext::currentContext() == context_.get())
        context_->doneCurrent();
    context_.reset();
    surface_.reset();
}

bool HalContext::isValid() const { return context_ && context_->isValid(); }

void HalContext::discard() {
    if (context_ && QOpenGLContext::currentContext() == context_.get())
        context_->doneCurrent();
    context_.reset();
    gl_ = nullptr;
}

bool HalContext::makeCurrent() {
    if (!isValid())
        return false;
    // Current on a window it presents to is as good: all drawing goes to
    // framebuffer objects, and switching drawables costs a flush each time.
    if (QOpenGLContext::currentContext() == context_.get() && context_->surface())
        return true;
    return context_->makeCurrent(surface_.get());
}

QSurfaceFormat HalContext::format() const { return context_ ? context_->format() : QSurfaceFormat(); }

bool HalContext::makeCurrentOn(QWindow* window, bool resized) {
    if (!isValid() || !window)
        return false;
    const bool onIt = QOpenGLContext::currentContext() == context_.get() && context_->surface() == window;
    if (onIt && !resized)
        return true;
    // The driver looks at a window's size when it is made current on it;
    // while it stays current it would go on drawing at the old size.
    if (onIt && !context_->makeCurrent(surface_.get()))
        return false;
    return context_->makeCurrent(window);
}

void HalContext::swapBuffers(QWindow* window) { context_->swapBuffers(window); }

unsigned HalContext::windowFramebuffer() const { return context_ ? context_->defaultFramebufferObject() : 0; }

int HalContext::driverSwapInterval() {
    // Mesa's GLX answers for the drawable that is current; other stacks
    // offer no question to ask.
    using GetSwapInterval = int (*)();
    auto query = reinterpret_cast<GetSwapInterval>(context_->getProcAddress("glXGetSwapIntervalMESA"));
    return query ? query() : -1;
}

unsigned glDepthFormatFor(std::uint32_t d3dFormat) {
    switch (d3dFormat) {
        case 80:  // D3DFMT_D16
            return GL_DEPTH_COMPONENT16;
        case 77:  // D3DFMT_D24X8
            return GL_DEPTH_COMPONENT24;
        case 75:  // D3DFMT_D24S8
            return GL_DEPTH24_STENCIL8;
        case 71:  // D3DFMT_D32
            return GL_DEPTH_COMPONENT32;
        default:
            return 0;
    }
}

namespace {
constexpr std::uint32_t kDepthFormats[] = {80, 77, 75, 71};

bool framebufferCompletes(GL& gl, unsigned depthFormat) {
    GLuint fbo = 0, rb[2] = {};
    gl.glGenFramebuffers(1, &fbo);
    gl.glGenRenderbuffers(2, rb);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    gl.glBindRenderbuffer(GL_RENDERBUFFER, rb[0]);
    gl.glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, 4, 4);
    gl.glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rb[0]);
    gl.glBindRenderbuffer(GL_RENDERBUFFER, rb[1]);
    gl.glRenderbufferStorage(GL_RENDERBUFFER, depthFormat, 4, 4);
    const GLenum attachment = depthFormat == GL_DEPTH24_STENCIL8 ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT;
    gl.glFramebufferRenderbuffer(GL_FRAMEBUFFER, attachment, GL_RENDERBUFFER, rb[1]);
    const bool complete = gl.glGetError() == GL_NO_ERROR &&
                          gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    gl.glDeleteRenderbuffers(2, rb);
    gl.glDeleteFramebuffers(1, &fbo);
    return complete;
}

struct Probe {
    bool available = false;
    std::uint32_t depthFormats[4] = {};
    std::string renderer;
    int maxSamples = 0;
    int maxTextureSize = 0;
};

Probe runProbe() {
    Probe p;
    QOpenGLContext* previous = QOpenGLContext::currentContext();
    QSurface* previousSurface = previous ? previous->surface() : nullptr;
    if (auto ctx = HalContext::create()) {
        p.available = true;
        p.renderer = ctx->renderer();
        p.maxSamples = ctx->maxSamples();
        p.maxTextureSize = ctx->maxTextureSize();
        for (int i = 0; i < 4; ++i)
            if (framebufferCompletes(ctx->gl(), glDepthFormatFor(kDepthFormats[i])))
                p.depthFormats[i] = kDepthFormats[i];
        // Every object the checks made is deleted and every binding is back
        // at zero, so the context is as good as a new one.
        spare = ctx.release();
        qAddPostRoutine(dropSpare);
    }
    if (previous && previousSurface)
        previous->makeCurrent(previousSurface);
    return p;
}

// Asked before the application object exists, the answer is "no" but is not
// remembered: the same process may well have OpenGL a moment later.
const Probe& probe() {
    static const Probe none;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return none;
    static const Probe result = runProbe();
    return result;
}
}  // namespace

void startGraphicsDriverPreload() { driverPreload().start(); }

bool halAvailable() { return probe().available; }
const std::string& halRendererName() { return probe().renderer; }
int halMaxSamples() { return probe().maxSamples; }
int halMaxTextureSize() { return probe().maxTextureSize; }

bool halSupportsDepthFormat(std::uint32_t d3dFormat) {
    if (d3dFormat == 0)
        return false;
    for (std::uint32_t f : probe().depthFormats)
        if (f == d3dFormat)
            return true;
    return false;
}

}  // namespace platform::hal
