// A surface built by a test, released when the test is done with it. The
// program keeps its one surface for good; a test program builds many, and
// the leak checker of the sanitizer run would count every one it keeps.
#pragma once

#include "mode/mode_surface.h"

struct OwnedSurface {
    ModeSurface surface{nullptr, nullptr, 0, 0};

    OwnedSurface() = default;
    explicit OwnedSurface(const ModeSurface& built) : surface(built) {}
    OwnedSurface(const OwnedSurface&) = delete;
    OwnedSurface& operator=(const OwnedSurface&) = delete;
    ~OwnedSurface() {
        delete[] surface.triangles;
        delete[] surface.vertices;
    }

    const ModeSurface* operator->() const { return &surface; }
    const ModeSurface& operator*() const { return surface; }
};
