// Our own versions of the four D3DX 9 matrix functions the camera uses, so the
// plug-in needs no D3DX runtime (a clean Windows does not have one), computed
// as plain numbers. Same matrix layouts as the D3DX ones: row
// vectors, m[row][column], a point transformed as p' = p x M.
//
// Rounding: the inputs and the results are floats, but everything between is
// done in double precision, and only the sines, cosines and the tangent are
// rounded to single precision on the way. That is how the 32-bit D3DX 9
// runtime computes (x87 code holding its intermediates at the thread's 53-bit
// precision), and it matters where terms cancel: summed in float, a small
// element of a product or of the rotation can be thousands of units in the
// last place away from the runtime's; summed in double it is the same float.
//
// Implemented: D3DXMatrixPerspectiveFovLH, D3DXMatrixTranslation,
// D3DXMatrixRotationYawPitchRoll, D3DXMatrixMultiply. Nothing else of D3DX.
// None of them allocates; all are safe to call every frame.
#include "core/matrices.h"

#include "core/numeric.h"

// Left-handed perspective projection:
//
//   xScale  0       0                 0
//   0       yScale  0                 0
//   0       0       zf/(zf-zn)        1
//   0       0       -zn*zf/(zf-zn)    0
//
// with yScale = cot(fovy/2) and xScale = yScale/aspect. A point at depth zn
// ends at z/w = 0, one at zf at z/w = 1.
Matrix4x4* D3DXMatrixPerspectiveFovLH(Matrix4x4* out, float fovy, float aspect, float zn, float zf)
{
    // The tangent is rounded to single precision before the reciprocals are
    // taken, as D3DX does; both scales then come from that one float, and
    // xScale is a single quotient so it is rounded only once.
    const float halfTan = TanSingle(fovy * 0.5f);
    const double depthRange = static_cast<double>(zf) - static_cast<double>(zn);

    out->m[0][0] = Single(1.0 / (static_cast<double>(aspect) * halfTan));
    out->m[0][1] = 0.0f;
    out->m[0][2] = 0.0f;
    out->m[0][3] = 0.0f;

    out->m[1][0] = 0.0f;
    out->m[1][1] = Single(1.0 / static_cast<double>(halfTan));
    out->m[1][2] = 0.0f;
    out->m[1][3] = 0.0f;

    out->m[2][0] = 0.0f;
    out->m[2][1] = 0.0f;
    out->m[2][2] = Single(static_cast<double>(zf) / depthRange);
    out->m[2][3] = 1.0f;

    out->m[3][0] = 0.0f;
    out->m[3][1] = 0.0f;
    out->m[3][2] = Single(-(static_cast<double>(zn) * static_cast<double>(zf)) / depthRange);
    out->m[3][3] = 0.0f;
    return out;
}

// The identity with (x, y, z) in the last row.
Matrix4x4* D3DXMatrixTranslation(Matrix4x4* out, float x, float y, float z)
{
    out->m[0][0] = 1.0f;
    out->m[0][1] = 0.0f;
    out->m[0][2] = 0.0f;
    out->m[0][3] = 0.0f;

    out->m[1][0] = 0.0f;
    out->m[1][1] = 1.0f;
    out->m[1][2] = 0.0f;
    out->m[1][3] = 0.0f;

    out->m[2][0] = 0.0f;
    out->m[2][1] = 0.0f;
    out->m[2][2] = 1.0f;
    out->m[2][3] = 0.0f;

    out->m[3][0] = x;
    out->m[3][1] = y;
    out->m[3][2] = z;
    out->m[3][3] = 1.0f;
    return out;
}

// The product Rz(roll) x Rx(pitch) x Ry(yaw) written out: a row vector is
// rolled about z first, then pitched about x, then turned by yaw about y.
// Each of the three is the left-handed D3DX rotation (a positive yaw takes +z
// towards +x, a positive pitch +y towards +z, a positive roll +x towards +y).
Matrix4x4* D3DXMatrixRotationYawPitchRoll(Matrix4x4* out, float yaw, float pitch, float roll)
{
    const double sinRoll = SinSingle(roll);
    const double cosRoll = CosSingle(roll);
    const double sinPitch = SinSingle(pitch);
    const double cosPitch = CosSingle(pitch);
    const double sinYaw = SinSingle(yaw);
    const double cosYaw = CosSingle(yaw);

    out->m[0][0] = Single(sinRoll * sinPitch * sinYaw + cosRoll * cosYaw);
    out->m[0][1] = Single(sinRoll * cosPitch);
    out->m[0][2] = Single(sinRoll * sinPitch * cosYaw - cosRoll * sinYaw);
    out->m[0][3] = 0.0f;

    out->m[1][0] = Single(cosRoll * sinPitch * sinYaw - sinRoll * cosYaw);
    out->m[1][1] = Single(cosRoll * cosPitch);
    out->m[1][2] = Single(cosRoll * sinPitch * cosYaw + sinRoll * sinYaw);
    out->m[1][3] = 0.0f;

    out->m[2][0] = Single(cosPitch * sinYaw);
    out->m[2][1] = Single(-sinPitch);
    out->m[2][2] = Single(cosPitch * cosYaw);
    out->m[2][3] = 0.0f;

    out->m[3][0] = 0.0f;
    out->m[3][1] = 0.0f;
    out->m[3][2] = 0.0f;
    out->m[3][3] = 1.0f;
    return out;
}

// out = m1 x m2. The product is formed in a local matrix and copied at the
// end, because out may be m1 or m2 (the caller chains transforms in place).
// Each element's four products are summed left to right in double precision:
// a product of two floats is exact there, so only the sums round.
Matrix4x4* D3DXMatrixMultiply(Matrix4x4* out, const Matrix4x4* m1, const Matrix4x4* m2)
{
    Matrix4x4 product;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            double sum = static_cast<double>(m1->m[row][0]) * m2->m[0][column];
            sum += static_cast<double>(m1->m[row][1]) * m2->m[1][column];
            sum += static_cast<double>(m1->m[row][2]) * m2->m[2][column];
            sum += static_cast<double>(m1->m[row][3]) * m2->m[3][column];
            product.m[row][column] = Single(sum);
        }
    }
    *out = product;
    return out;
}
