// Our D3DX matrix functions: layouts, what they do to points, and the
// aliasing and rounding that the camera code relies on.
#include "core/matrices.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

const float HalfPi = 1.5707964f;

struct Vector4 {
    double x, y, z, w;
};

// p x M with row vectors, in double so the check adds no rounding of its own.
Vector4 Transform(const Vector4& p, const Matrix4x4& m)
{
    Vector4 r;
    r.x = p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + p.w * m.m[3][0];
    r.y = p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + p.w * m.m[3][1];
    r.z = p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + p.w * m.m[3][2];
    r.w = p.x * m.m[0][3] + p.y * m.m[1][3] + p.z * m.m[2][3] + p.w * m.m[3][3];
    return r;
}

Matrix4x4 Matrix(const float (&values)[16])
{
    Matrix4x4 m;
    std::memcpy(m.m, values, sizeof(values));
    return m;
}

Matrix4x4 Identity() { return Matrix({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}); }

uint32_t Bits(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

void ExpectSameBits(const Matrix4x4& expected, const Matrix4x4& actual)
{
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            EXPECT_EQ(Bits(expected.m[row][column]), Bits(actual.m[row][column]))
                << "element _" << row + 1 << column + 1 << ": expected " << expected.m[row][column] << ", got "
                << actual.m[row][column];
}

void ExpectNear(const Vector4& expected, const Vector4& actual, double tolerance)
{
    EXPECT_NEAR(expected.x, actual.x, tolerance);
    EXPECT_NEAR(expected.y, actual.y, tolerance);
    EXPECT_NEAR(expected.z, actual.z, tolerance);
    EXPECT_NEAR(expected.w, actual.w, tolerance);
}

// The elementary D3DX rotations, written out independently of the combined one.
Matrix4x4 RotationX(float a)
{
    const float c = std::cos(a), s = std::sin(a);
    return Matrix({1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1});
}
Matrix4x4 RotationY(float a)
{
    const float c = std::cos(a), s = std::sin(a);
    return Matrix({c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1});
}
Matrix4x4 RotationZ(float a)
{
    const float c = std::cos(a), s = std::sin(a);
    return Matrix({c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
}

// --- Translation -------------------------------------------------------------

TEST(MatrixTranslation, OffsetSitsInTheLastRowAndMovesPointsButNotDirections)
{
    Matrix4x4 t;
    EXPECT_EQ(&t, D3DXMatrixTranslation(&t, 4.0f, -5.0f, 2.1f));
    ExpectSameBits(Matrix({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 4.0f, -5.0f, 2.1f, 1}), t);
    D3DXMatrixTranslation(&t, 4.0f, -5.0f, 6.5f);
    ExpectNear({5, -3, 9.5, 1}, Transform({1, 2, 3, 1}, t), 0.0);
    ExpectNear({1, 2, 3, 0}, Transform({1, 2, 3, 0}, t), 0.0);
}

// --- Perspective -------------------------------------------------------------

TEST(MatrixPerspectiveFovLH, HasTheLeftHandedLayout)
{
    Matrix4x4 p;
    EXPECT_EQ(&p, D3DXMatrixPerspectiveFovLH(&p, 0.9f, 1.5f, 1.0f, 3.0f));
    const float yScale = p.m[1][1];
    const float xScale = p.m[0][0];
    // zf/(zf-zn) = 1.5 and -zn*zf/(zf-zn) = -1.5 are exact.
    ExpectSameBits(Matrix({xScale, 0, 0, 0, 0, yScale, 0, 0, 0, 0, 1.5f, 1, 0, 0, -1.5f, 0}), p);
    EXPECT_NEAR(1.0 / std::tan(0.45), yScale, 2e-7 * yScale);
    EXPECT_NEAR(yScale / 1.5, xScale, 2e-7 * xScale);
}

TEST(MatrixPerspectiveFovLH, HorizontalScaleIsVerticalScaleOverAspect)
{
    Matrix4x4 square, wide, quadruple;
    D3DXMatrixPerspectiveFovLH(&square, 0.7853982f, 1.0f, 0.1f, 100.0f);
    D3DXMatrixPerspectiveFovLH(&wide, 0.7853982f, 2.0f, 0.1f, 100.0f);
    D3DXMatrixPerspectiveFovLH(&quadruple, 0.7853982f, 0.25f, 0.1f, 100.0f);
    // Scaling by a power of two is exact, so these hold to the bit.
    EXPECT_EQ(Bits(square.m[1][1]), Bits(square.m[0][0]));
    EXPECT_EQ(Bits(square.m[1][1]), Bits(wide.m[1][1]));
    EXPECT_EQ(Bits(square.m[1][1] * 0.5f), Bits(wide.m[0][0]));
    EXPECT_EQ(Bits(square.m[1][1] * 4.0f), Bits(quadruple.m[0][0]));
}

TEST(MatrixPerspectiveFovLH, MapsNearPlaneToDepthZeroAndFarPlaneToOne)
{
    const float planes[][2] = {{0.1f, 100.0f}, {1.0f, 3.0f}, {0.5f, 7.25f}, {2.0f, 1000.0f}};
    for (const auto& plane : planes) {
        const float zn = plane[0], zf = plane[1];
        Matrix4x4 p;
        D3DXMatrixPerspectiveFovLH(&p, 1.2f, 1.0f, zn, zf);
        const Vector4 nearPoint = Transform({0, 0, zn, 1}, p);
        const Vector4 farPoint = Transform({0, 0, zf, 1}, p);
        const Vector4 midPoint = Transform({0, 0, (zn + zf) / 2, 1}, p);
        EXPECT_NEAR(0.0, nearPoint.z / nearPoint.w, 1e-6) << "zn " << zn << " zf " << zf;
        EXPECT_NEAR(1.0, farPoint.z / farPoint.w, 1e-6) << "zn " << zn << " zf " << zf;
        // w carries the view depth, and depth grows with distance.
        EXPECT_EQ(zf, farPoint.w);
        EXPECT_GT(midPoint.z / midPoint.w, 0.0);
        EXPECT_LT(midPoint.z / midPoint.w, 1.0);
    }
}

TEST(MatrixPerspectiveFovLH, MapsFieldOfViewEdgesToTheViewportEdges)
{
    const float fovs[] = {0.2f, 0.7853982f, 1.5f, 2.8f};
    const float aspects[] = {1.0f, 2.0f, 0.75f};
    for (float fovy : fovs) {
        for (float aspect : aspects) {
            Matrix4x4 p;
            D3DXMatrixPerspectiveFovLH(&p, fovy, aspect, 0.1f, 100.0f);
            const double depth = 7.0;
            const double halfHeight = depth * std::tan(fovy / 2.0);
            const double halfWidth = halfHeight * aspect;
            const Vector4 top = Transform({0, halfHeight, depth, 1}, p);
            const Vector4 bottomLeft = Transform({-halfWidth, -halfHeight, depth, 1}, p);
            EXPECT_NEAR(1.0, top.y / top.w, 1e-6) << "fovy " << fovy << " aspect " << aspect;
            EXPECT_NEAR(0.0, top.x / top.w, 0.0);
            EXPECT_NEAR(-1.0, bottomLeft.x / bottomLeft.w, 1e-6) << "fovy " << fovy << " aspect " << aspect;
            EXPECT_NEAR(-1.0, bottomLeft.y / bottomLeft.w, 1e-6) << "fovy " << fovy << " aspect " << aspect;
        }
    }
}

// --- Yaw, pitch, roll --------------------------------------------------------

TEST(MatrixRotationYawPitchRoll, NoAnglesGiveTheIdentity)
{
    Matrix4x4 r;
    EXPECT_EQ(&r, D3DXMatrixRotationYawPitchRoll(&r, 0.0f, 0.0f, 0.0f));
    // Compared by value: _32 is -sin(pitch), here -0.
    const Matrix4x4 identity = Identity();
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            EXPECT_EQ(identity.m[row][column], r.m[row][column]) << "element _" << row + 1 << column + 1;
}

// A quarter turn of each angle alone: the yaw turns depth towards x, the
// pitch y towards depth, the roll x towards y; the axis stays.
TEST(MatrixRotationYawPitchRoll, EachAngleTurnsAboutItsAxis)
{
    const struct {
        float yaw, pitch, roll;
        Vector4 from, to;
    } turns[] = {
        {HalfPi, 0, 0, {0, 0, 1, 1}, {1, 0, 0, 1}},  {HalfPi, 0, 0, {1, 0, 0, 1}, {0, 0, -1, 1}},
        {HalfPi, 0, 0, {0, 1, 0, 1}, {0, 1, 0, 1}},  {0, HalfPi, 0, {0, 1, 0, 1}, {0, 0, 1, 1}},
        {0, HalfPi, 0, {0, 0, 1, 1}, {0, -1, 0, 1}}, {0, HalfPi, 0, {1, 0, 0, 1}, {1, 0, 0, 1}},
        {0, 0, HalfPi, {1, 0, 0, 1}, {0, 1, 0, 1}},  {0, 0, HalfPi, {0, 1, 0, 1}, {-1, 0, 0, 1}},
        {0, 0, HalfPi, {0, 0, 1, 1}, {0, 0, 1, 1}},
    };
    for (const auto& turn : turns) {
        SCOPED_TRACE(testing::Message() << "yaw " << turn.yaw << " pitch " << turn.pitch << " roll " << turn.roll);
        Matrix4x4 r;
        D3DXMatrixRotationYawPitchRoll(&r, turn.yaw, turn.pitch, turn.roll);
        ExpectNear(turn.to, Transform(turn.from, r), 1e-7);
    }
}

TEST(MatrixRotationYawPitchRoll, EqualsRollTimesPitchTimesYaw)
{
    const float angles[][3] = {{0.3f, -1.1f, 2.5f}, {-6.9f, 0.01f, 4.0f}, {3.14159f, 1.5f, -0.7f}, {1.0f, 2.0f, 3.0f}};
    for (const auto& a : angles) {
        const float yaw = a[0], pitch = a[1], roll = a[2];
        Matrix4x4 combined, rollPitch, expected, otherOrder;
        D3DXMatrixRotationYawPitchRoll(&combined, yaw, pitch, roll);
        const Matrix4x4 rz = RotationZ(roll), rx = RotationX(pitch), ry = RotationY(yaw);
        D3DXMatrixMultiply(&rollPitch, &rz, &rx);
        D3DXMatrixMultiply(&expected, &rollPitch, &ry);
        D3DXMatrixMultiply(&rollPitch, &ry, &rx);
        D3DXMatrixMultiply(&otherOrder, &rollPitch, &rz);
        double largestOrderDifference = 0.0;
        for (int row = 0; row < 4; ++row) {
            for (int column = 0; column < 4; ++column) {
                EXPECT_NEAR(expected.m[row][column], combined.m[row][column], 3e-7)
                    << "yaw " << yaw << " pitch " << pitch << " roll " << roll;
                largestOrderDifference =
                    std::fmax(largestOrderDifference, std::fabs(otherOrder.m[row][column] - combined.m[row][column]));
            }
        }
        EXPECT_GT(largestOrderDifference, 0.1) << "yaw " << yaw << " pitch " << pitch << " roll " << roll;
    }
}

TEST(MatrixRotationYawPitchRoll, IsARotation)
{
    for (int i = 0; i < 200; ++i) {
        const float yaw = -7.0f + 0.07f * i, pitch = 7.0f - 0.053f * i, roll = 0.031f * i - 3.0f;
        Matrix4x4 r;
        D3DXMatrixRotationYawPitchRoll(&r, yaw, pitch, roll);
        for (int a = 0; a < 3; ++a) {
            for (int b = 0; b < 3; ++b) {
                const double dot = static_cast<double>(r.m[a][0]) * r.m[b][0] +
                                   static_cast<double>(r.m[a][1]) * r.m[b][1] +
                                   static_cast<double>(r.m[a][2]) * r.m[b][2];
                EXPECT_NEAR(a == b ? 1.0 : 0.0, dot, 5e-7) << "rows " << a << ", " << b << " at yaw " << yaw;
            }
        }
        const double determinant =
            r.m[0][0] * (static_cast<double>(r.m[1][1]) * r.m[2][2] - static_cast<double>(r.m[1][2]) * r.m[2][1]) -
            r.m[0][1] * (static_cast<double>(r.m[1][0]) * r.m[2][2] - static_cast<double>(r.m[1][2]) * r.m[2][0]) +
            r.m[0][2] * (static_cast<double>(r.m[1][0]) * r.m[2][1] - static_cast<double>(r.m[1][1]) * r.m[2][0]);
        EXPECT_NEAR(1.0, determinant, 1e-6);
        EXPECT_EQ(Bits(0.0f), Bits(r.m[0][3]));
        EXPECT_EQ(Bits(0.0f), Bits(r.m[3][0]));
        EXPECT_EQ(Bits(1.0f), Bits(r.m[3][3]));
    }
}

// --- Multiply ----------------------------------------------------------------

const Matrix4x4 ShearAndMove = Matrix({1, 2, 0, 0, 0, 1, 3, 0, 0, 0, 1, 0, 4, 0, 0, 1});
const Matrix4x4 ScaleAndLift = Matrix({2, 0, 0, 0, 0, 3, 0, 0, 1, 0, 1, 0, 0, 0, 5, 1});

TEST(MatrixMultiply, MatchesHandComputedProductsInBothOrders)
{
    Matrix4x4 product;
    EXPECT_EQ(&product, D3DXMatrixMultiply(&product, &ShearAndMove, &ScaleAndLift));
    ExpectSameBits(Matrix({2, 6, 0, 0, 3, 3, 3, 0, 1, 0, 1, 0, 8, 0, 5, 1}), product);
    D3DXMatrixMultiply(&product, &ScaleAndLift, &ShearAndMove);
    ExpectSameBits(Matrix({2, 4, 0, 0, 0, 3, 9, 0, 1, 2, 1, 0, 4, 0, 5, 1}), product);
}

TEST(MatrixMultiply, OutputMayBeEitherInput)
{
    Matrix4x4 expected;
    D3DXMatrixMultiply(&expected, &ShearAndMove, &ScaleAndLift);

    Matrix4x4 first = ShearAndMove;
    EXPECT_EQ(&first, D3DXMatrixMultiply(&first, &first, &ScaleAndLift));
    ExpectSameBits(expected, first);

    Matrix4x4 second = ScaleAndLift;
    EXPECT_EQ(&second, D3DXMatrixMultiply(&second, &ShearAndMove, &second));
    ExpectSameBits(expected, second);

    Matrix4x4 square;
    D3DXMatrixMultiply(&square, &ShearAndMove, &ShearAndMove);
    Matrix4x4 both = ShearAndMove;
    D3DXMatrixMultiply(&both, &both, &both);
    ExpectSameBits(square, both);
    ExpectSameBits(Matrix({1, 4, 6, 0, 0, 1, 6, 0, 0, 0, 1, 0, 8, 8, 0, 1}), square);
}

TEST(MatrixMultiply, SumsEachElementBeforeRoundingToSinglePrecision)
{
    // 1e8 + 1 - 1e8: a float running sum loses the 1, a double one keeps it.
    const Matrix4x4 bigRow = Matrix({1e8f, 1, -1e8f, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    const Matrix4x4 ones = Matrix({1, 0, 0, 0, 1, 1, 0, 0, 1, 0, 1, 0, 0, 0, 0, 1});
    Matrix4x4 product;
    D3DXMatrixMultiply(&product, &bigRow, &ones);
    EXPECT_EQ(Bits(1.0f), Bits(product.m[0][0]));
    EXPECT_EQ(Bits(1.0f), Bits(product.m[0][1]));
    EXPECT_EQ(Bits(-1e8f), Bits(product.m[0][2]));
    // Each product is exact before the sum rounds: (1 + 2^-12)^2 - (1 + 2^-11)
    // is 2^-24, but a float product would round the square to 1 + 2^-11 and
    // leave 0.
    const float nearOne = 1.0f + 0x1p-12f;
    const Matrix4x4 squareMinus = Matrix({nearOne, -1, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    const Matrix4x4 column = Matrix({nearOne, 0, 0, 0, 1.0f + 0x1p-11f, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    D3DXMatrixMultiply(&product, &squareMinus, &column);
    EXPECT_EQ(Bits(0x1p-24f), Bits(product.m[0][0]));
}

}  // namespace
