// The OpenGL 3.3 core context behind one HAL device. It renders into its own
// framebuffer objects on an offscreen surface, so the device works the same
// with a window, with a hidden window and with no window at all.
#pragma once

#include <QOpenGLFunctions_3_3_Core>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QOpenGLContext;
class QOffscreenSurface;
class QSurfaceFormat;
class QWindow;

namespace platform::hal {

using GL = QOpenGLFunctions_3_3_Core;

class HalContext {
public:
    // Null when this process cannot get an OpenGL 3.3 core context: no
    // QGuiApplication, not on its thread, or a platform plugin without
    // OpenGL (QT_QPA_PLATFORM=offscreen with no X display to reach). The
    // first call after the capability probe gets the probe's context.
    static std::unique_ptr<HalContext> create();

    ~HalContext();
    HalContext(const HalContext&) = delete;
    HalContext& operator=(const HalContext&) = delete;

    // Makes the context current unless it already is; false when the
    // context has gone (a lost GPU), in which case nothing may be drawn.
    bool makeCurrent();
    // False once the context has gone; it never comes back.
    bool isValid() const;
    // Lets the context go as a GPU reset does (a test fault).
    void discard();
    GL& gl() { return *gl_; }

    // The format a window needs for this context to draw into it.
    QSurfaceFormat format() const;
    // Makes the context current on a window of OpenGL surface type made
    // with format(), for a frame that goes straight to the screen; false
    // when the window cannot take it. `resized`: the window's size changed
    // since. The context stays current on the window; makeCurrent() takes
    // that as current.
    bool makeCurrentOn(QWindow* window, bool resized);
    // Shows what was drawn into the window's buffer; the driver waits for
    // the display first when the window's swap interval asks it to.
    void swapBuffers(QWindow* window);
    // The framebuffer that stands for the window the context is current on.
    unsigned windowFramebuffer() const;
    // The swap interval the driver reports for the window the context is
    // current on, or -1 where the driver cannot say.
    int driverSwapInterval();
    // What the driver said about its most recent errors (KHR_debug), oldest
    // first, at most `most` messages; none where the driver cannot say.
    std::vector<std::string> driverErrorMessages(int most);

    const std::string& renderer() const { return renderer_; }
    int maxSamples() const { return maxSamples_; }
    int maxTextureSize() const { return maxTextureSize_; }

private:
    HalContext() = default;
    static std::unique_ptr<HalContext> createNew();

    std::unique_ptr<QOpenGLContext> context_;
    std::unique_ptr<QOffscreenSurface> surface_;
    GL* gl_ = nullptr;
    std::string renderer_;
    int maxSamples_ = 0;
    int maxTextureSize_ = 0;
    using GetDebugMessageLog = GLuint (*)(GLuint, GLsizei, GLenum*, GLenum*, GLuint*, GLenum*,
                                                          GLsizei*, GLchar*);
    GetDebugMessageLog getDebugMessageLog_ = nullptr;
};

// The GL storage for a depth/stencil format of the device API (D3DFMT_D16,
// D24X8, D24S8, D32), or 0 for a format that has none.
unsigned glDepthFormatFor(std::uint32_t d3dFormat);

// Whether HAL can exist here at all, and the renderer's name for the adapter
// identifier. The answer is found once (by creating a throw-away context)
// and remembered for the life of the process.
bool halAvailable();
const std::string& halRendererName();
int halMaxSamples();
int halMaxTextureSize();
// Whether a framebuffer with that depth format is complete on this GL.
bool halSupportsDepthFormat(std::uint32_t d3dFormat);

}  // namespace platform::hal
