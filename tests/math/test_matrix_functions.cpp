#include "math/matrix_functions.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr float kPiOver4 = 0.7853982f;

void expectMatrixNear(const D3DXMATRIX& actual, const D3DXMATRIX& expected, float tolerance = 1e-6f) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(actual.m[i][j], expected.m[i][j], tolerance) << "element (" << i + 1 << ", " << j + 1 << ")";
}

// p * M for a point with w = 1.
D3DXVECTOR3 transform(const D3DXVECTOR3& p, const D3DXMATRIX& m) {
    return D3DXVECTOR3(p.x * m._11 + p.y * m._21 + p.z * m._31 + m._41, p.x * m._12 + p.y * m._22 + p.z * m._32 + m._42,
                       p.x * m._13 + p.y * m._23 + p.z * m._33 + m._43);
}

TEST(LookAt, CameraInFrontOfTheOriginIsATranslationAlongZ) {
    D3DXMATRIX view;
    const D3DXVECTOR3 eye(0, 0, -5), at(0, 0, 0), up(0, 1, 0);
    ASSERT_EQ(D3DXMatrixLookAtLH(&view, &eye, &at, &up), &view);
    expectMatrixNear(view, D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 5, 1));
}

TEST(LookAt, MapsTheEyeToTheOriginAndTheTargetOntoPositiveZ) {
    D3DXMATRIX view;
    const D3DXVECTOR3 eye(3, 2, -4), at(1, -1, 2), up(0, 1, 0);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    const D3DXVECTOR3 e = transform(eye, view);
    EXPECT_NEAR(e.x, 0, 1e-5f);
    EXPECT_NEAR(e.y, 0, 1e-5f);
    EXPECT_NEAR(e.z, 0, 1e-5f);
    const D3DXVECTOR3 a = transform(at, view);
    EXPECT_NEAR(a.x, 0, 1e-5f);
    EXPECT_NEAR(a.y, 0, 1e-5f);
    EXPECT_NEAR(a.z, std::sqrt(4.0f + 9.0f + 36.0f), 1e-5f);
    // Left-handed: x to the right of the view direction when up is +y.
    const D3DXVECTOR3 right = transform(D3DXVECTOR3(eye.x + view._11, eye.y + view._21, eye.z + view._31), view);
    EXPECT_NEAR(right.x, 1, 1e-5f);
}

TEST(LookAt, NullArgumentsReturnNullWithoutWriting) {
    D3DXMATRIX view(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    const D3DXMATRIX before = view;
    const D3DXVECTOR3 v(0, 0, 0), up(0, 1, 0);
    EXPECT_EQ(D3DXMatrixLookAtLH(&view, nullptr, &v, &up), nullptr);
    EXPECT_EQ(D3DXMatrixLookAtLH(&view, &v, nullptr, &up), nullptr);
    EXPECT_EQ(D3DXMatrixLookAtLH(&view, &v, &v, nullptr), nullptr);
    EXPECT_EQ(D3DXMatrixLookAtLH(nullptr, &v, &v, &up), nullptr);
    expectMatrixNear(view, before, 0);
}

TEST(Perspective, ProgramProjectionValues) {
    D3DXMATRIX projection;
    ASSERT_EQ(D3DXMatrixPerspectiveFovLH(&projection, kPiOver4, 4.0f / 3.0f, 1.0f, 100.0f), &projection);
    EXPECT_NEAR(projection._22, 2.4142137f, 1e-6f);
    EXPECT_NEAR(projection._11, 1.8106601f, 1e-6f);
    EXPECT_NEAR(projection._33, 100.0f / 99.0f, 1e-6f);
    EXPECT_NEAR(projection._43, -100.0f / 99.0f, 1e-6f);
    EXPECT_EQ(projection._34, 1.0f);
    EXPECT_EQ(projection._44, 0.0f);
    EXPECT_EQ(projection._12, 0.0f);
    EXPECT_EQ(projection._41, 0.0f);
}

TEST(Perspective, NearAndFarPlanesMapToDepthZeroAndOne) {
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, kPiOver4, 1.0f, 2.0f, 50.0f);
    for (float z : {2.0f, 50.0f}) {
        const float clipZ = z * projection._33 + projection._43;
        const float clipW = z * projection._34;
        EXPECT_NEAR(clipZ / clipW, z == 2.0f ? 0.0f : 1.0f, 1e-6f);
    }
}

TEST(Perspective, DegenerateArgumentsReturnNullWithoutWriting) {
    D3DXMATRIX projection(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    const D3DXMATRIX before = projection;
    EXPECT_EQ(D3DXMatrixPerspectiveFovLH(&projection, 0.0f, 1.0f, 1.0f, 100.0f), nullptr);
    EXPECT_EQ(D3DXMatrixPerspectiveFovLH(&projection, kPiOver4, 0.0f, 1.0f, 100.0f), nullptr);
    EXPECT_EQ(D3DXMatrixPerspectiveFovLH(&projection, kPiOver4, 1.0f, 5.0f, 5.0f), nullptr);
    EXPECT_EQ(D3DXMatrixPerspectiveFovLH(nullptr, kPiOver4, 1.0f, 1.0f, 100.0f), nullptr);
    expectMatrixNear(projection, before, 0);
}

TEST(Rotation, QuarterTurnsMoveTheAxesTheLeftHandedWay) {
    D3DXMATRIX rx, ry;
    D3DXMatrixRotationX(&rx, 1.5707964f);
    D3DXMatrixRotationY(&ry, 1.5707964f);
    const D3DXVECTOR3 y = transform(D3DXVECTOR3(0, 1, 0), rx);
    EXPECT_NEAR(y.x, 0, 1e-6f);
    EXPECT_NEAR(y.y, 0, 1e-6f);
    EXPECT_NEAR(y.z, 1, 1e-6f);
    const D3DXVECTOR3 z = transform(D3DXVECTOR3(0, 0, 1), ry);
    EXPECT_NEAR(z.x, 1, 1e-6f);
    EXPECT_NEAR(z.y, 0, 1e-6f);
    EXPECT_NEAR(z.z, 0, 1e-6f);
    EXPECT_EQ(D3DXMatrixRotationX(nullptr, 1.0f), nullptr);
    EXPECT_EQ(D3DXMatrixRotationY(nullptr, 1.0f), nullptr);
}

TEST(Multiply, FirstFactorActsFirst) {
    D3DXMATRIX rx, ry, both;
    D3DXMatrixRotationX(&rx, 0.3f);
    D3DXMatrixRotationY(&ry, 1.1f);
    D3DXMatrixMultiply(&both, &rx, &ry);
    const D3DXVECTOR3 p(0.25f, -0.5f, 2.0f);
    const D3DXVECTOR3 stepwise = transform(transform(p, rx), ry);
    const D3DXVECTOR3 direct = transform(p, both);
    EXPECT_NEAR(direct.x, stepwise.x, 1e-5f);
    EXPECT_NEAR(direct.y, stepwise.y, 1e-5f);
    EXPECT_NEAR(direct.z, stepwise.z, 1e-5f);
}

TEST(Multiply, OutputMayAliasEitherFactor) {
    const D3DXMATRIX a(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    const D3DXMATRIX b(2, 0, 1, 0, -1, 3, 0, 2, 0, 1, 1, 0, 4, 0, 0, 1);
    D3DXMATRIX separate;
    D3DXMatrixMultiply(&separate, &a, &b);
    EXPECT_EQ(separate._11, 1 * 2 + 2 * -1 + 3 * 0 + 4 * 4);
    EXPECT_EQ(separate._24, 5 * 0 + 6 * 2 + 7 * 0 + 8 * 1);

    D3DXMATRIX inA = a;
    EXPECT_EQ(D3DXMatrixMultiply(&inA, &inA, &b), &inA);
    expectMatrixNear(inA, separate, 0);

    D3DXMATRIX inB = b;
    D3DXMatrixMultiply(&inB, &a, &inB);
    expectMatrixNear(inB, separate, 0);

    D3DXMATRIX square = a, expectedSquare;
    D3DXMatrixMultiply(&expectedSquare, &a, &a);
    D3DXMatrixMultiply(&square, &square, &square);
    expectMatrixNear(square, expectedSquare, 0);
}

TEST(Normalize, UnitLengthAndZeroVector) {
    D3DXVECTOR3 v(-1, -1, 2);
    D3DXVec3Normalize(&v, &v);
    EXPECT_NEAR(v.x, -0.4082483f, 1e-6f);
    EXPECT_NEAR(v.y, -0.4082483f, 1e-6f);
    EXPECT_NEAR(v.z, 0.8164966f, 1e-6f);
    D3DXVECTOR3 zero(0, 0, 0), out(5, 5, 5);
    EXPECT_EQ(D3DXVec3Normalize(&out, &zero), &out);
    EXPECT_EQ(out.x, 0.0f);
    EXPECT_EQ(out.y, 0.0f);
    EXPECT_EQ(out.z, 0.0f);
}

}  // namespace
