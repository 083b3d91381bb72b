// The usage texts of trails and its subcommands: `trails help` prints them
// all, `trails COMMAND --help` its own.
#pragma once

extern const char kDumpUsage[];
extern const char kRenderUsage[];
extern const char kViewUsage[];
// "usage: trails COMMAND [options]", every command's text and `help`.
extern const char kTrailsUsage[];
