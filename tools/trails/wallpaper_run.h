// trails view --wallpaper under a Wayland compositor.
#pragma once

#include "tools/trails/view_options.h"

// Runs the scene as the wallpaper until a stop signal, --frames or the
// compositor going away; the exit status for the command.
int RunWaylandWallpaper(const ViewSettings& settings);
