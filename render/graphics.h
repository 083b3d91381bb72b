// The graphics interface the device layer draws through: the real Direct3D 9
// header in the Windows plug-in, the stand-in of platform/ everywhere else.
#pragma once

#if defined(CHAOSTRAILS_REAL_D3D9)
#include <d3d9.h>
#else
#include "platform/d3d9_standin.h"
#endif
