// Our own versions of the four D3DX 9 matrix functions the camera uses: the
// same results as D3DX's (tested against Wine's d3dx9_43 in the Windows
// build), on a plain matrix with the layout of Direct3D's D3DMATRIX: row
// vectors, m[row][column], a point transformed as p' = p x M.
#pragma once

struct Matrix4x4 {
    float m[4][4];
};

// Left-handed perspective projection from a vertical field of view in radians.
Matrix4x4* D3DXMatrixPerspectiveFovLH(Matrix4x4* out, float fovy, float aspect, float zn, float zf);
// Translation by (x, y, z).
Matrix4x4* D3DXMatrixTranslation(Matrix4x4* out, float x, float y, float z);
// Rotation: roll about z, then pitch about x, then yaw about y (row vectors).
Matrix4x4* D3DXMatrixRotationYawPitchRoll(Matrix4x4* out, float yaw, float pitch, float roll);
// out = m1 x m2: with row vectors, m1 is applied first. out may alias m1 or m2.
Matrix4x4* D3DXMatrixMultiply(Matrix4x4* out, const Matrix4x4* m1, const Matrix4x4* m2);
