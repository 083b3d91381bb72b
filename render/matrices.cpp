// Our own versions of the four D3DX 9 matrix functions the camera uses, so the
// plug-in needs no D3DX runtime. Same matrix layouts as the D3DX ones: row
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
#include "render/graphics.h"

#include "simulation/numeric.h"

// Left-handed perspective projection:
//
//   xScale  0       0                 0
//   0       yScale  0                 0
//   0       0       zf/(zf-zn)        1
//   0       0       -zn*zf/(zf-zn)    0
//
// with yScale = cot(fovy/2) and xScale = yScale/aspect. A point at depth zn
// ends at z/w = 0, one at zf at z/w = 1.
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf)
{
    // The tangent is rounded to single precision before the reciprocals are
    // taken, as D3DX does; both scales then come from that one float, and
    // xScale is a single quotient so it is rounded only once.
    const float halfTan = TanSingle(fovy * 0.5f);
    const double depthRange = static_cast<double>(zf) - static_cast<double>(zn);

    out->_11 = Single(1.0 / (static_cast<double>(aspect) * halfTan));
    out->_12 = 0.0f;
    out->_13 = 0.0f;
    out->_14 = 0.0f;

    out->_21 = 0.0f;
    out->_22 = Single(1.0 / static_cast<double>(halfTan));
    out->_23 = 0.0f;
    out->_24 = 0.0f;

    out->_31 = 0.0f;
    out->_32 = 0.0f;
    out->_33 = Single(static_cast<double>(zf) / depthRange);
    out->_34 = 1.0f;

    out->_41 = 0.0f;
    out->_42 = 0.0f;
    out->_43 = Single(-(static_cast<double>(zn) * static_cast<double>(zf)) / depthRange);
    out->_44 = 0.0f;
    return out;
}

// The identity with (x, y, z) in the last row.
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z)
{
    out->_11 = 1.0f;
    out->_12 = 0.0f;
    out->_13 = 0.0f;
    out->_14 = 0.0f;

    out->_21 = 0.0f;
    out->_22 = 1.0f;
    out->_23 = 0.0f;
    out->_24 = 0.0f;

    out->_31 = 0.0f;
    out->_32 = 0.0f;
    out->_33 = 1.0f;
    out->_34 = 0.0f;

    out->_41 = x;
    out->_42 = y;
    out->_43 = z;
    out->_44 = 1.0f;
    return out;
}

// The product Rz(roll) x Rx(pitch) x Ry(yaw) written out: a row vector is
// rolled about z first, then pitched about x, then turned by yaw about y.
// Each of the three is the left-handed D3DX rotation (a positive yaw takes +z
// towards +x, a positive pitch +y towards +z, a positive roll +x towards +y).
D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* out, float yaw, float pitch, float roll)
{
    const double sinRoll = SinSingle(roll);
    const double cosRoll = CosSingle(roll);
    const double sinPitch = SinSingle(pitch);
    const double cosPitch = CosSingle(pitch);
    const double sinYaw = SinSingle(yaw);
    const double cosYaw = CosSingle(yaw);

    out->_11 = Single(sinRoll * sinPitch * sinYaw + cosRoll * cosYaw);
    out->_12 = Single(sinRoll * cosPitch);
    out->_13 = Single(sinRoll * sinPitch * cosYaw - cosRoll * sinYaw);
    out->_14 = 0.0f;

    out->_21 = Single(cosRoll * sinPitch * sinYaw - sinRoll * cosYaw);
    out->_22 = Single(cosRoll * cosPitch);
    out->_23 = Single(cosRoll * sinPitch * cosYaw + sinRoll * sinYaw);
    out->_24 = 0.0f;

    out->_31 = Single(cosPitch * sinYaw);
    out->_32 = Single(-sinPitch);
    out->_33 = Single(cosPitch * cosYaw);
    out->_34 = 0.0f;

    out->_41 = 0.0f;
    out->_42 = 0.0f;
    out->_43 = 0.0f;
    out->_44 = 1.0f;
    return out;
}

// out = m1 x m2. The product is formed in a local matrix and copied at the
// end, because out may be m1 or m2 (the caller chains transforms in place).
// Each element's four products are summed left to right in double precision:
// a product of two floats is exact there, so only the sums round.
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* m1, const D3DXMATRIX* m2)
{
    D3DXMATRIX product;
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
