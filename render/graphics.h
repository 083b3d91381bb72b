// The graphics layer the plug-in draws through: the real Direct3D 9 header in
// the Windows plug-in, the stand-in of platform/ everywhere else, and our own
// versions of the four D3DX matrix functions (so the DLL needs no D3DX runtime,
// which a clean Windows does not have).
#pragma once

#if defined(CHAOSTRAILS_REAL_D3D9)
#include <d3d9.h>
#else
#include "platform/d3d9_standin.h"
#endif

// The D3DX matrix type is a plain 4 x 4 float matrix, row vectors, as D3DMATRIX.
typedef D3DMATRIX D3DXMATRIX;

// Left-handed perspective projection from a vertical field of view in radians.
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf);
// Translation by (x, y, z).
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z);
// Rotation: roll about z, then pitch about x, then yaw about y (row vectors).
D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* out, float yaw, float pitch, float roll);
// out = m1 x m2: with row vectors, m1 is applied first. out may alias m1 or m2.
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* m1, const D3DXMATRIX* m2);
