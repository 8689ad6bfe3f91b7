#include "tools/snapshot/snapshot_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned MinSide = 16;
constexpr unsigned MaxSide = 8192;

bool parseAngle(const char* text, float* angle) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(value) || std::fabs(value) > 1e6)
        return false;
    *angle = static_cast<float>(value);
    return true;
}

bool parseSide(const char* begin, const char* end, unsigned* side) {
    if (begin == end || end - begin > 5)
        return false;
    unsigned value = 0;
    for (const char* c = begin; c != end; ++c) {
        if (*c < '0' || *c > '9')
            return false;
        value = value * 10 + unsigned(*c - '0');
    }
    if (value < MinSide || value > MaxSide)
        return false;
    *side = value;
    return true;
}

bool parseSize(const char* text, unsigned* width, unsigned* height) {
    const char* x = std::strchr(text, 'x');
    return x && parseSide(text, x, width) && parseSide(x + 1, text + std::strlen(text), height);
}

}  // namespace

bool ParseSnapshotOptions(int argc, char** argv, SnapshotOptions* options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "--no-overlay") {
            (option == "--help" ? options->help : options->noOverlay) = true;
            continue;
        }
        if (option != "--rotate-x" && option != "--rotate-y" && option != "--size" && option != "--output") {
            *error = "unknown option '" + option + "'";
            return false;
        }
        if (i + 1 >= argc) {
            *error = "option '" + option + "' needs a value";
            return false;
        }
        const char* value = argv[++i];
        bool ok = true;
        if (option == "--rotate-x")
            ok = parseAngle(value, &options->rotationX);
        else if (option == "--rotate-y")
            ok = parseAngle(value, &options->rotationY);
        else if (option == "--size")
            ok = parseSize(value, &options->width, &options->height);
        else if (*value == '\0')
            ok = false;
        else
            options->output = value;
        if (!ok) {
            if (option == "--size")
                *error = "bad size '" + std::string(value) + "' (want WIDTHxHEIGHT, each 16 to 8192)";
            else if (option == "--output")
                *error = "empty output file name";
            else
                *error = "bad angle '" + std::string(value) + "' for " + option + " (want radians)";
            return false;
        }
    }
    return true;
}
