// REF's vertex stage: transform, lighting and early culling of a draw's
// vertices, then clipping of each triangle before it is set up.
#include "platform/d3d9/ref_pipeline.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace platform::d3d9 {

using namespace ref;

namespace {

// Triangles are clipped to a band this many viewport half-widths wide, which
// keeps every snapped coordinate well inside 64-bit edge arithmetic.
constexpr float kGuardBand = 16.0f;

struct Mat3 {
    float m[3][3];
};

// Normals go through the inverse transpose of the world-view matrix, so that
// they stay perpendicular to surfaces under non-uniform scaling.
Mat3 normalMatrix(const D3DMATRIX& worldView) {
    const float(&a)[4][4] = worldView.m;
    const float c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    const float c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    const float c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    const float det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
    Mat3 r{};
    if (det == 0.0f)
        return r;
    const float inv = 1.0f / det;
    // Row-vector convention: n' = n * inverse(M)^T, and inverse(M)^T is the
    // cofactor matrix divided by the determinant.
    r.m[0][0] = c00 * inv;
    r.m[0][1] = c01 * inv;
    r.m[0][2] = c02 * inv;
    r.m[1][0] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) * inv;
    r.m[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) * inv;
    r.m[1][2] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) * inv;
    r.m[2][0] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) * inv;
    r.m[2][1] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) * inv;
    r.m[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) * inv;
    return r;
}

void normalize3(float v[3]) {
    const float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (len > 0.0f) {
        v[0] /= len;
        v[1] /= len;
        v[2] /= len;
    }
}

}  // namespace

void RefRasterizer::processVertices(const FixedFunctionState& state, const TriangleList& list) {
    const DWORD fvf = list.fvf;
    const DWORD position = fvf & D3DFVF_POSITION_MASK;
    pretransformed_ = position == D3DFVF_XYZRHW;

    UINT offset = pretransformed_ ? 16 : 12;
    if (position >= D3DFVF_XYZB1 && position <= D3DFVF_XYZB5)
        offset = 12 + 4 * ((position - D3DFVF_XYZ) / 2);
    int normalAt = -1, diffuseAt = -1, specularAt = -1;
    if (fvf & D3DFVF_NORMAL) {
        normalAt = int(offset);
        offset += 12;
    }
    if (fvf & D3DFVF_PSIZE)
        offset += 4;
    if (fvf & D3DFVF_DIFFUSE) {
        diffuseAt = int(offset);
        offset += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
        specularAt = int(offset);
        offset += 4;
    }
    int texAt[2] = {-1, -1};
    const int texCount = int((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
    for (int i = 0; i < texCount; ++i) {
        if (i < 2)
            texAt[i] = int(offset);
        static const UINT sizes[4] = {8, 12, 16, 4};
        offset += sizes[(fvf >> (16 + 2 * i)) & 3];
    }

    const DWORD* rs = state.renderState;
    const bool lighting = rs[D3DRS_LIGHTING] && !pretransformed_;
    const D3DMATRIX worldView = multiplyTransforms(state.world, state.view);
    const D3DMATRIX wvp = multiplyTransforms(worldView, state.projection);
    const Mat3 nm = normalMatrix(worldView);
    const bool normalize = rs[D3DRS_NORMALIZENORMALS] != 0;

    // Light directions in view space, pointing from the surface to the light.
    struct LightTerm {
        float dir[3];
        float diffuse[4];
        float ambient[4];
    };
    LightTerm lights[kMaxActiveLights];
    int lightCount = 0;
    if (lighting) {
        for (UINT i = 0; i < state.lightCount && i < UINT(kMaxActiveLights); ++i) {
            const D3DLIGHT9& l = state.lights[i];
            if (l.Type != D3DLIGHT_DIRECTIONAL)
                continue;  // only directional lights are drawn
            LightTerm& t = lights[lightCount++];
            const float* v = &l.Direction.x;
            for (int j = 0; j < 3; ++j)
                t.dir[j] = -(v[0] * state.view.m[0][j] + v[1] * state.view.m[1][j] + v[2] * state.view.m[2][j]);
            normalize3(t.dir);
            t.diffuse[0] = l.Diffuse.r, t.diffuse[1] = l.Diffuse.g, t.diffuse[2] = l.Diffuse.b, t.diffuse[3] = l.Diffuse.a;
            t.ambient[0] = l.Ambient.r, t.ambient[1] = l.Ambient.g, t.ambient[2] = l.Ambient.b, t.ambient[3] = l.Ambient.a;
        }
    }
    float globalAmbient[4];
    unpack(rs[D3DRS_AMBIENT], globalAmbient);
    const bool colorVertex = rs[D3DRS_COLORVERTEX] != 0;
    const D3DMATERIAL9& mat = state.material;

    const UINT count = list.triangleCount * 3;
    // Grown, never shrunk: the overlay's draws come between the surface's,
    // and growing again would clear every vertex each frame.
    if (vertices_.size() < count)
        vertices_.resize(count);
    visible_.assign(list.triangleCount, 1);
    const BYTE* base = list.vertices->bytes + list.offset;

    // Where each lit colour comes from, settled once per draw.
    enum class Source { Material, Diffuse, Specular };
    auto sourceOf = [&](DWORD which) {
        if (colorVertex && which == D3DMCS_COLOR1 && diffuseAt >= 0)
            return Source::Diffuse;
        if (colorVertex && which == D3DMCS_COLOR2 && specularAt >= 0)
            return Source::Specular;
        return Source::Material;
    };
    auto values = [](const D3DCOLORVALUE& c, float out[4]) {
        out[0] = c.r, out[1] = c.g, out[2] = c.b, out[3] = c.a;
    };
    const Source diffuseSource = sourceOf(rs[D3DRS_DIFFUSEMATERIALSOURCE]);
    const Source ambientSource = sourceOf(rs[D3DRS_AMBIENTMATERIALSOURCE]);
    const Source emissiveSource = sourceOf(rs[D3DRS_EMISSIVEMATERIALSOURCE]);
    float materialDiffuse[4], materialAmbient[4], materialEmissive[4];
    values(mat.Diffuse, materialDiffuse);
    values(mat.Ambient, materialAmbient);
    values(mat.Emissive, materialEmissive);

    // Triangles that face away are dropped before they are lit: a two-sided
    // surface would otherwise light every vertex twice for nothing. The
    // clip-space x, y and w the test needs are the vertex's own, kept.
    const DWORD cull = rs[D3DRS_CULLMODE];
    const bool earlyCull = !pretransformed_ && (cull == D3DCULL_CCW || cull == D3DCULL_CW);
    const float(&m)[4][4] = wvp.m;
#if defined(__SSE2__)
    // Lane j of each sum below is the scalar expression for component j,
    // term by term in the same order.
    const __m128 m0 = _mm_loadu_ps(m[0]), m1 = _mm_loadu_ps(m[1]), m2 = _mm_loadu_ps(m[2]), m3 = _mm_loadu_ps(m[3]);
    const __m128 n0 = _mm_setr_ps(nm.m[0][0], nm.m[0][1], nm.m[0][2], 0.0f);
    const __m128 n1 = _mm_setr_ps(nm.m[1][0], nm.m[1][1], nm.m[1][2], 0.0f);
    const __m128 n2 = _mm_setr_ps(nm.m[2][0], nm.m[2][1], nm.m[2][2], 0.0f);
    const __m128 ambientLight = _mm_loadu_ps(globalAmbient);
#endif
    // The vertex's own colours land here, so that the sources are picked
    // once per draw rather than per vertex.
    float diffuse[4], specular[4];
    auto pick = [&](Source source, const float* material) -> const float* {
        return source == Source::Diffuse ? diffuse : source == Source::Specular ? specular : material;
    };
    const float* const md = pick(diffuseSource, materialDiffuse);
    const float* const ma = pick(ambientSource, materialAmbient);
    const float* const me = pick(emissiveSource, materialEmissive);
    for (UINT t = 0; t < list.triangleCount; ++t) {
        Vertex* tri = &vertices_[size_t(t) * 3];
        const BYTE* first = base + size_t(t) * 3 * list.stride;
        if (!pretransformed_) {
            bool inFront = true;
            for (int k = 0; k < 3; ++k) {
                float p[3];
                std::memcpy(p, first + size_t(k) * list.stride, 12);
                Vertex& out = tri[k];
#if defined(__SSE2__)
                const __m128 clip =
                    _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(p[0]), m0), _mm_mul_ps(_mm_set1_ps(p[1]), m1)),
                                          _mm_mul_ps(_mm_set1_ps(p[2]), m2)),
                               m3);
                _mm_storeu_ps(&out.x, clip);
#else
                out.x = p[0] * m[0][0] + p[1] * m[1][0] + p[2] * m[2][0] + m[3][0];
                out.y = p[0] * m[0][1] + p[1] * m[1][1] + p[2] * m[2][1] + m[3][1];
                out.z = p[0] * m[0][2] + p[1] * m[1][2] + p[2] * m[2][2] + m[3][2];
                out.w = p[0] * m[0][3] + p[1] * m[1][3] + p[2] * m[2][3] + m[3][3];
#endif
                inFront = inFront && out.w > 0.0f;
            }
            // Behind the eye the clipper decides.
            if (earlyCull && inFront) {
                const float x[3] = {tri[0].x, tri[1].x, tri[2].x};
                const float y[3] = {tri[0].y, tri[1].y, tri[2].y};
                const float w[3] = {tri[0].w, tri[1].w, tri[2].w};
                // With every w positive, the winding on screen is the sign of
                // this determinant (negated, as screen y runs down); no division.
                const float det = x[0] * (y[1] * w[2] - y[2] * w[1]) - y[0] * (x[1] * w[2] - x[2] * w[1]) +
                                  w[0] * (x[1] * y[2] - x[2] * y[1]);
                float bound = 1e-5f;
                for (int k = 0; k < 3; ++k)
                    bound *= std::fabs(x[k]) + std::fabs(y[k]) + std::fabs(w[k]);
                // Only clear cases: a sliver is left to the exact test.
                if ((cull == D3DCULL_CCW && det > bound) || (cull == D3DCULL_CW && det < -bound)) {
                    visible_[t] = 0;
                    continue;
                }
            }
        }

        for (int k = 0; k < 3; ++k) {
            const BYTE* v = first + size_t(k) * list.stride;
            Vertex& out = tri[k];
            diffuse[0] = diffuse[1] = diffuse[2] = diffuse[3] = 1.0f;
            specular[0] = specular[1] = specular[2] = specular[3] = 0.0f;
            if (diffuseAt >= 0) {
                D3DCOLOR c;
                std::memcpy(&c, v + diffuseAt, 4);
                unpack(c, diffuse);
            }
            if (specularAt >= 0) {
                D3DCOLOR c;
                std::memcpy(&c, v + specularAt, 4);
                unpack(c, specular);
            }
            if (pretransformed_) {
                float p[4];
                std::memcpy(p, v, 16);
                out.x = p[0];
                out.y = p[1];
                out.z = p[2];
                out.w = p[3] != 0.0f ? 1.0f / p[3] : 1.0f;
                std::memcpy(out.attr, diffuse, sizeof diffuse);
            } else if (lighting) {
                float n[4] = {0, 0, 0, 0};
                if (normalAt >= 0) {
                    float raw[3];
                    std::memcpy(raw, v + normalAt, 12);
#if defined(__SSE2__)
                    _mm_storeu_ps(n, _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(raw[0]), n0),
                                                           _mm_mul_ps(_mm_set1_ps(raw[1]), n1)),
                                                _mm_mul_ps(_mm_set1_ps(raw[2]), n2)));
#else
                    for (int j = 0; j < 3; ++j)
                        n[j] = raw[0] * nm.m[0][j] + raw[1] * nm.m[1][j] + raw[2] * nm.m[2][j];
#endif
                    if (normalize)
                        normalize3(n);
                }
#if defined(__SSE2__)
                const __m128 mdv = _mm_loadu_ps(md), mav = _mm_loadu_ps(ma);
                __m128 sum = _mm_add_ps(_mm_loadu_ps(me), _mm_mul_ps(mav, ambientLight));
                for (int l = 0; l < lightCount; ++l) {
                    const LightTerm& lt = lights[l];
                    const float ndotl = std::max(0.0f, n[0] * lt.dir[0] + n[1] * lt.dir[1] + n[2] * lt.dir[2]);
                    sum = _mm_add_ps(sum, _mm_add_ps(_mm_mul_ps(mav, _mm_loadu_ps(lt.ambient)),
                                                     _mm_mul_ps(_mm_mul_ps(mdv, _mm_loadu_ps(lt.diffuse)),
                                                                _mm_set1_ps(ndotl))));
                }
                // min(1, max(0, c)) in this operand order is clamp01, NaN included.
                _mm_storeu_ps(out.attr, _mm_min_ps(_mm_set1_ps(1.0f), _mm_max_ps(_mm_setzero_ps(), sum)));
                out.attr[3] = clamp01(md[3]);
#else
                float c[3];
                for (int j = 0; j < 3; ++j)
                    c[j] = me[j] + ma[j] * globalAmbient[j];
                for (int l = 0; l < lightCount; ++l) {
                    const LightTerm& lt = lights[l];
                    const float ndotl = std::max(0.0f, n[0] * lt.dir[0] + n[1] * lt.dir[1] + n[2] * lt.dir[2]);
                    for (int j = 0; j < 3; ++j)
                        c[j] += ma[j] * lt.ambient[j] + md[j] * lt.diffuse[j] * ndotl;
                }
                out.attr[0] = clamp01(c[0]);
                out.attr[1] = clamp01(c[1]);
                out.attr[2] = clamp01(c[2]);
                out.attr[3] = clamp01(md[3]);
#endif
            } else {
                std::memcpy(out.attr, diffuse, sizeof diffuse);
            }
            for (int s = 0; s < 2; ++s) {
                if (texAt[s] >= 0)
                    std::memcpy(out.attr + 4 + 2 * s, v + texAt[s], 8);
                else
                    out.attr[4 + 2 * s] = out.attr[5 + 2 * s] = 0.0f;
            }
        }
    }
}

void RefRasterizer::drawClipped(const PixelPipeline& pipe, const Vertex* tri, int) {
    auto toScreen = [&](const Vertex& v) {
        ScreenVertex s;
        if (pretransformed_) {
            s.x = v.x;
            s.y = v.y;
            s.z = v.z;
            s.invW = 1.0f / v.w;
        } else {
            const float invW = 1.0f / v.w;
            s.x = pipe.vpX + (1.0f + v.x * invW) * pipe.vpHalfW;
            s.y = pipe.vpY + (1.0f - v.y * invW) * pipe.vpHalfH;
            s.z = pipe.vpMinZ + v.z * invW * (pipe.vpMaxZ - pipe.vpMinZ);
            s.invW = invW;
        }
        std::memcpy(s.attr, v.attr, sizeof s.attr);
        return s;
    };

    if (pretransformed_) {
        rasterize(pipe, toScreen(tri[0]), toScreen(tri[1]), toScreen(tri[2]));
        return;
    }

    // Outcodes against near, far and the guard band.
    auto outcode = [](const Vertex& v) {
        int code = 0;
        if (v.z < 0.0f)
            code |= 1;
        if (v.z > v.w)
            code |= 2;
        if (v.x < -kGuardBand * v.w)
            code |= 4;
        if (v.x > kGuardBand * v.w)
            code |= 8;
        if (v.y < -kGuardBand * v.w)
            code |= 16;
        if (v.y > kGuardBand * v.w)
            code |= 32;
        return code;
    };
    const int c0 = outcode(tri[0]), c1 = outcode(tri[1]), c2 = outcode(tri[2]);
    if (c0 & c1 & c2)
        return;
    if ((c0 | c1 | c2) == 0) {
        rasterize(pipe, toScreen(tri[0]), toScreen(tri[1]), toScreen(tri[2]));
        return;
    }

    // Sutherland-Hodgman in clip space; each plane adds at most one vertex.
    Vertex bufA[9], bufB[9];
    Vertex* in = bufA;
    Vertex* out = bufB;
    int n = 3;
    std::copy(tri, tri + 3, in);
    auto distance = [](const Vertex& v, int plane) {
        switch (plane) {
        case 0: return v.z;
        case 1: return v.w - v.z;
        case 2: return v.x + kGuardBand * v.w;
        case 3: return kGuardBand * v.w - v.x;
        case 4: return v.y + kGuardBand * v.w;
        default: return kGuardBand * v.w - v.y;
        }
    };
    const int all = c0 | c1 | c2;
    for (int plane = 0; plane < 6 && n >= 3; ++plane) {
        if (!(all & (1 << plane)))
            continue;
        int m = 0;
        for (int i = 0; i < n; ++i) {
            const Vertex& a = in[i];
            const Vertex& b = in[(i + 1) % n];
            const float da = distance(a, plane), db = distance(b, plane);
            if (da >= 0)
                out[m++] = a;
            if ((da >= 0) != (db >= 0)) {
                const float t = da / (da - db);
                Vertex& v = out[m++];
                v.x = a.x + (b.x - a.x) * t;
                v.y = a.y + (b.y - a.y) * t;
                v.z = a.z + (b.z - a.z) * t;
                v.w = a.w + (b.w - a.w) * t;
                for (int k = 0; k < kAttrCount; ++k)
                    v.attr[k] = a.attr[k] + (b.attr[k] - a.attr[k]) * t;
            }
        }
        std::swap(in, out);
        n = m;
    }
    if (n < 3)
        return;
    const ScreenVertex first = toScreen(in[0]);
    ScreenVertex prev = toScreen(in[1]);
    for (int i = 2; i < n; ++i) {
        const ScreenVertex next = toScreen(in[i]);
        rasterize(pipe, first, prev, next);
        prev = next;
    }
}

}  // namespace platform::d3d9
