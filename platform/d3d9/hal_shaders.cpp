#include "platform/d3d9/hal_shaders.h"

#include <algorithm>

namespace platform::hal {

using namespace d3d9;

namespace {

constexpr const char* kVertexBody = R"(
layout(location = 0) in vec4 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec4 aDiffuse;
layout(location = 3) in vec4 aSpecular;
layout(location = 4) in vec2 aTexCoord0;
layout(location = 5) in vec2 aTexCoord1;

uniform mat4 uWorldViewProjection;
uniform mat3 uNormalMatrix;
uniform vec2 uViewportSize;
uniform vec2 uTargetSize;
uniform vec4 uGlobalAmbient;
uniform vec4 uMaterialDiffuse;
uniform vec4 uMaterialAmbient;
uniform vec4 uMaterialEmissive;
uniform vec3 uLightToward[8];   // view space, from the surface towards the light
uniform vec4 uLightDiffuse[8];
uniform vec4 uLightAmbient[8];

SHADE out vec4 vDiffuse;
out vec2 vTexCoord0;
out vec2 vTexCoord1;

vec4 vertexDiffuse() {
#if HAS_DIFFUSE
    return aDiffuse;
#else
    return vec4(1.0);  // a vertex without a colour is opaque white
#endif
}

vec4 materialColor(int source, vec4 material) {
#if HAS_DIFFUSE
    if (source == 1) return aDiffuse;
#endif
#if HAS_SPECULAR
    if (source == 2) return aSpecular;
#endif
    return material;
}

void main() {
#if TEXCOORD_SETS > 0
    vTexCoord0 = aTexCoord0;
#else
    vTexCoord0 = vec2(0.0);
#endif
#if TEXCOORD_SETS > 1
    vTexCoord1 = aTexCoord1;
#else
    vTexCoord1 = vec2(0.0);
#endif
#if PRETRANSFORMED
    // Screen pixels of the whole target, D3D pixel centres on integers; GL
    // samples at half-integers and our target is stored top row first.
    float w = aPosition.w != 0.0 ? 1.0 / aPosition.w : 1.0;
    vec2 ndc = (aPosition.xy + 0.5) * 2.0 / uTargetSize - 1.0;
    gl_Position = vec4(ndc * w, (2.0 * aPosition.z - 1.0) * w, w);
    vDiffuse = vertexDiffuse();
#else
    vec4 clip = uWorldViewProjection * vec4(aPosition.xyz, 1.0);
    // D3D clip space has y up and depth 0..1, and its pixel centres are on
    // integers. The target is stored top row first, so y flips, and every
    // vertex moves half a pixel so GL's half-integer samples land where
    // D3D's integer ones are.
    clip.x += clip.w / uViewportSize.x;
    clip.y = -clip.y + clip.w / uViewportSize.y;
    clip.z = 2.0 * clip.z - clip.w;
    gl_Position = clip;
#if LIGHTING
#if HAS_NORMAL
    vec3 n = uNormalMatrix * aNormal;
#if NORMALIZE_NORMALS
    if (dot(n, n) > 0.0) n = normalize(n);
#endif
#else
    vec3 n = vec3(0.0);
#endif
    vec4 diffuse = materialColor(DIFFUSE_SOURCE, uMaterialDiffuse);
    vec4 ambient = materialColor(AMBIENT_SOURCE, uMaterialAmbient);
    vec4 emissive = materialColor(EMISSIVE_SOURCE, uMaterialEmissive);
    vec3 color = emissive.rgb + ambient.rgb * uGlobalAmbient.rgb;
    for (int i = 0; i < LIGHT_COUNT; ++i)
        color += ambient.rgb * uLightAmbient[i].rgb +
                 diffuse.rgb * uLightDiffuse[i].rgb * max(0.0, dot(n, uLightToward[i]));
    vDiffuse = vec4(clamp(color, 0.0, 1.0), clamp(diffuse.a, 0.0, 1.0));
#else
    vDiffuse = vertexDiffuse();
#endif
#endif
}
)";

std::string define(const char* name, int value) {
    return std::string("#define ") + name + " " + std::to_string(value) + "\n";
}

std::string header(const ShaderKey& key) {
    return std::string("#version 330 core\n") + "#define SHADE " + (key.flat ? "flat" : "") + "\n";
}

// A stage argument as a vec4 expression.
std::string argument(DWORD arg, const std::string& texel) {
    std::string v;
    switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE: v = "diffuse"; break;
    case D3DTA_CURRENT: v = "current"; break;
    case D3DTA_TEXTURE: v = texel; break;
    case D3DTA_TFACTOR: v = "uTextureFactor"; break;
    default: v = "vec4(0.0)"; break;
    }
    if (arg & D3DTA_ALPHAREPLICATE)
        v = "vec4(" + v + ".a)";
    if (arg & D3DTA_COMPLEMENT)
        v = "(1.0 - " + v + ")";
    return v;
}

std::string combine(DWORD op, const std::string& a, const std::string& b, const std::string& texel) {
    const std::string s = "(" + a + ")", t = "(" + b + ")";
    auto clamp01 = [](const std::string& e) { return "clamp(" + e + ", 0.0, 1.0)"; };
    auto lerp = [&](const std::string& alpha) { return s + " * " + alpha + " + " + t + " * (1.0 - " + alpha + ")"; };
    switch (op) {
    case D3DTOP_SELECTARG1: return s;
    case D3DTOP_SELECTARG2: return t;
    case D3DTOP_MODULATE: return s + " * " + t;
    case D3DTOP_MODULATE2X: return clamp01("2.0 * " + s + " * " + t);
    case D3DTOP_MODULATE4X: return clamp01("4.0 * " + s + " * " + t);
    case D3DTOP_ADD: return clamp01(s + " + " + t);
    case D3DTOP_ADDSIGNED: return clamp01(s + " + " + t + " - 0.5");
    case D3DTOP_ADDSIGNED2X: return clamp01("2.0 * (" + s + " + " + t + " - 0.5)");
    case D3DTOP_SUBTRACT: return clamp01(s + " - " + t);
    case D3DTOP_ADDSMOOTH: return clamp01(s + " + " + t + " - " + s + " * " + t);
    case D3DTOP_BLENDDIFFUSEALPHA: return lerp("diffuse.a");
    case D3DTOP_BLENDTEXTUREALPHA: return lerp(texel + ".a");
    case D3DTOP_BLENDFACTORALPHA: return lerp("uTextureFactor.a");
    case D3DTOP_BLENDCURRENTALPHA: return lerp("current.a");
    default: return s + " * " + t;
    }
}

}  // namespace

std::string ShaderKey::bytes() const {
    const std::size_t used = offsetof(ShaderKey, stages) + sizeof(Stage) * stageCount;
    return std::string(reinterpret_cast<const char*>(this), used);
}

ShaderKey shaderKeyFor(const FixedFunctionState& state, DWORD fvf, const bool (&textureSet)[kMaxTextureStages]) {
    const DWORD* rs = state.renderState;
    ShaderKey k;
    k.pretransformed = (fvf & D3DFVF_POSITION_MASK) == D3DFVF_XYZRHW;
    k.hasNormal = (fvf & D3DFVF_NORMAL) != 0;
    k.hasDiffuse = (fvf & D3DFVF_DIFFUSE) != 0;
    k.hasSpecular = (fvf & D3DFVF_SPECULAR) != 0;
    k.texCoordSets = std::uint8_t(std::min<DWORD>((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT, 2));
    k.flat = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
    k.lighting = rs[D3DRS_LIGHTING] && !k.pretransformed;
    if (k.lighting) {
        k.normalizeNormals = rs[D3DRS_NORMALIZENORMALS] != 0;
        for (UINT i = 0; i < state.lightCount && i < UINT(kMaxActiveLights); ++i)
            if (state.lights[i].Type == D3DLIGHT_DIRECTIONAL)
                ++k.lightCount;
        const bool colorVertex = rs[D3DRS_COLORVERTEX] != 0;
        // A source naming a colour the vertex lacks falls back to the material.
        auto source = [&](DWORD which) -> std::uint8_t {
            if (colorVertex && which == D3DMCS_COLOR1 && k.hasDiffuse)
                return 1;
            if (colorVertex && which == D3DMCS_COLOR2 && k.hasSpecular)
                return 2;
            return 0;
        };
        k.diffuseSource = source(rs[D3DRS_DIFFUSEMATERIALSOURCE]);
        k.ambientSource = source(rs[D3DRS_AMBIENTMATERIALSOURCE]);
        k.emissiveSource = source(rs[D3DRS_EMISSIVEMATERIALSOURCE]);
    }
    k.alphaTest = rs[D3DRS_ALPHATESTENABLE] != 0;
    if (k.alphaTest)
        k.alphaFunc = std::uint8_t(rs[D3DRS_ALPHAFUNC]);
    // The device has already cut the cascade at the first disabled stage.
    for (int s = 0; s < kMaxTextureStages; ++s) {
        const DWORD* ts = state.stageState[s];
        if (ts[D3DTSS_COLOROP] == D3DTOP_DISABLE)
            break;
        ShaderKey::Stage& st = k.stages[k.stageCount++];
        st.colorOp = std::uint8_t(ts[D3DTSS_COLOROP]);
        st.colorArg1 = std::uint8_t(ts[D3DTSS_COLORARG1]);
        st.colorArg2 = std::uint8_t(ts[D3DTSS_COLORARG2]);
        st.alphaOp = std::uint8_t(ts[D3DTSS_ALPHAOP]);
        st.alphaArg1 = std::uint8_t(ts[D3DTSS_ALPHAARG1]);
        st.alphaArg2 = std::uint8_t(ts[D3DTSS_ALPHAARG2]);
        st.coordSet = (ts[D3DTSS_TEXCOORDINDEX] & 0xFFFF) == 1 ? 1 : 0;
        auto selects = [](DWORD arg) { return (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE; };
        st.samplesTexture = textureSet[s] && (selects(st.colorArg1) || selects(st.colorArg2) ||
                                              selects(st.alphaArg1) || selects(st.alphaArg2));
    }
    return k;
}

std::string vertexShaderSource(const ShaderKey& key) {
    return header(key) + define("PRETRANSFORMED", key.pretransformed) + define("LIGHTING", key.lighting) +
           define("NORMALIZE_NORMALS", key.normalizeNormals) + define("HAS_NORMAL", key.hasNormal) +
           define("HAS_DIFFUSE", key.hasDiffuse) + define("HAS_SPECULAR", key.hasSpecular) +
           define("TEXCOORD_SETS", key.texCoordSets) + define("LIGHT_COUNT", key.lightCount) +
           define("DIFFUSE_SOURCE", key.diffuseSource) + define("AMBIENT_SOURCE", key.ambientSource) +
           define("EMISSIVE_SOURCE", key.emissiveSource) + kVertexBody;
}

std::string fragmentShaderSource(const ShaderKey& key) {
    std::string s = header(key);
    s += "SHADE in vec4 vDiffuse;\nin vec2 vTexCoord0;\nin vec2 vTexCoord1;\nout vec4 fragColor;\n";
    s += "uniform vec4 uTextureFactor;\nuniform int uAlphaRef;\n";
    for (int i = 0; i < key.stageCount; ++i)
        if (key.stages[i].samplesTexture)
            s += "uniform sampler2D uTexture" + std::to_string(i) + ";\n";
    s += "void main() {\n";
    s += "    vec4 diffuse = clamp(vDiffuse, 0.0, 1.0);\n    vec4 current = diffuse;\n";
    for (int i = 0; i < key.stageCount; ++i) {
        const ShaderKey::Stage& st = key.stages[i];
        const std::string texel = "texel" + std::to_string(i);
        s += "    {\n";
        if (st.samplesTexture)
            s += "        vec4 " + texel + " = texture(uTexture" + std::to_string(i) + ", vTexCoord" +
                 std::to_string(st.coordSet) + ");\n";
        else
            s += "        vec4 " + texel + " = vec4(1.0);\n";
        s += "        vec3 rgb = (" +
             combine(st.colorOp, argument(st.colorArg1, texel), argument(st.colorArg2, texel), texel) + ").rgb;\n";
        if (st.alphaOp == D3DTOP_DISABLE)
            s += "        float alpha = current.a;\n";
        else
            s += "        float alpha = (" +
                 combine(st.alphaOp, argument(st.alphaArg1, texel), argument(st.alphaArg2, texel), texel) + ").a;\n";
        s += "        current = clamp(vec4(rgb, alpha), 0.0, 1.0);\n    }\n";
    }
    if (key.alphaTest) {
        static const char* const kCompare[] = {"true",  "false", "<",  "==", "<=",
                                               ">",     "!=",    ">=", "true"};
        const int func = key.alphaFunc <= 8 ? key.alphaFunc : 8;
        // The test sees the alpha as the byte it would be stored as.
        s += "    int alpha8 = int(floor(current.a * 255.0 + 0.5));\n";
        if (func == D3DCMP_NEVER)
            s += "    discard;\n";
        else if (func >= D3DCMP_LESS && func <= D3DCMP_GREATEREQUAL)
            s += std::string("    if (!(alpha8 ") + kCompare[func] + " uAlphaRef)) discard;\n";
    }
    s += "    fragColor = current;\n}\n";
    return s;
}

}  // namespace platform::hal
