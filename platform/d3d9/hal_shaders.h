// GLSL for the fixed-function pipeline. The pipeline's shape (which parts a
// vertex has, lighting and the number of lights, flat shading, the texture
// stage cascade, the alpha test) is compiled into the source, one program
// per shape, so a software GL runs straight-line code; colours, matrices and
// lights arrive as uniforms and never cause a recompile.
#pragma once

#include <string>

#include "platform/d3d9/backend.h"

namespace platform::hal {

// Attribute slots, fixed in the vertex shader.
enum Attribute : unsigned { kPosition = 0, kNormal = 1, kDiffuse = 2, kSpecular = 3, kTexCoord0 = 4, kTexCoord1 = 5 };

struct ShaderKey {
    struct Stage {
        std::uint8_t colorOp, colorArg1, colorArg2, alphaOp, alphaArg1, alphaArg2;
        std::uint8_t coordSet;       // 0 or 1
        std::uint8_t samplesTexture; // a texture is set and an argument reads it
    };
    std::uint8_t pretransformed = 0, lighting = 0, normalizeNormals = 0, flat = 0;
    std::uint8_t hasNormal = 0, hasDiffuse = 0, hasSpecular = 0, texCoordSets = 0;
    std::uint8_t lightCount = 0;
    // Material sources after the device's fallbacks: 0 material, 1 vertex
    // diffuse, 2 vertex specular.
    std::uint8_t diffuseSource = 0, ambientSource = 0, emissiveSource = 0;
    std::uint8_t alphaTest = 0, alphaFunc = 0;
    std::uint8_t stageCount = 0;
    Stage stages[d3d9::kMaxTextureStages] = {};

    // The bytes that identify the program (only the stages in use count).
    std::string bytes() const;
};

// The shape of the pipeline a draw needs, read from the device's snapshot.
// `textureSet[s]` says whether stage s has a texture the backend can sample.
ShaderKey shaderKeyFor(const d3d9::FixedFunctionState& state, DWORD fvf, const bool (&textureSet)[d3d9::kMaxTextureStages]);

std::string vertexShaderSource(const ShaderKey& key);
std::string fragmentShaderSource(const ShaderKey& key);

}  // namespace platform::hal
