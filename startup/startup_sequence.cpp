#include "startup/startup_sequence.h"

#include "core/matrix.h"

bool ComputeAndPublishModeSurface(const std::function<ModeSurface()>& computation, std::ostream& errors) {
    ModeSurface surface;
    try {
        surface = computation();
    } catch (const mtl::assertion& failure) {
        errors << "vibrolane: " << failure.what() << "\n";
        errors.flush();
        return false;
    }
    PublishModeSurface(surface);
    return true;
}
