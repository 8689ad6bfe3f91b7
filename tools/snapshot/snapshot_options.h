// The snapshot tool's command line.
#pragma once

#include <string>

struct SnapshotOptions {
    float rotationX = 0.0f;
    float rotationY = 0.0f;
    unsigned width = 500;
    unsigned height = 375;
    std::string output = "vibrolane.png";
    bool help = false;
    bool noOverlay = false;
};

inline constexpr const char* SnapshotUsage =
    "usage: vibrolane-snapshot [--rotate-x RAD] [--rotate-y RAD] [--size WIDTHxHEIGHT] [--output FILE] [--no-overlay] [--help]";

// False with a one-line reason in *error for an unknown option, a missing or
// malformed value, or a size outside 16 ... 8192.
bool ParseSnapshotOptions(int argc, char** argv, SnapshotOptions* options, std::string* error);
