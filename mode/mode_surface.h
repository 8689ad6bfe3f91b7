// The hand-off from the start-up computation to the viewer: one vertex per
// mesh point, lifted by the displayed mode, and the neighbour fans of every
// point as triangles.
#pragma once

#include <cstdint>

#include "core/disk_mesh.h"
#include "core/matrix.h"

struct ModeVertex {
    float x;
    float y;
    float z;
};

struct ModeTriangle {
    std::int32_t apex;  // the point whose fan produced the triangle
    std::int32_t first;
    std::int32_t second;
};

static_assert(sizeof(ModeVertex) == 12 && sizeof(ModeTriangle) == 12, "records are packed");

struct ModeSurface {
    ModeTriangle* triangles;
    ModeVertex* vertices;
    std::int32_t triangleCount;
    std::int32_t vertexCount;
};

// Both arrays come from the general heap and are never freed: the surface
// lives as long as the process. Every mode of the solver's block is
// published beside it (PublishComputedModes) before it returns.
ModeSurface ModeComputation();

// The surface part of ModeComputation: heights(i) lifts interior point i,
// rim points stay at height 0.
ModeSurface BuildModeSurface(const DiskMesh& mesh, DenseVector heights);

// The process-wide surface the viewer draws. Published once, before the
// viewer exists, and only read afterwards.
void PublishModeSurface(const ModeSurface& surface);
const ModeSurface& PublishedModeSurface();
