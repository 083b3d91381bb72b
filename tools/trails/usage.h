// The usage texts of trails and its subcommands: `trails help` prints them
// all, `trails COMMAND --help` its own.
#pragma once

extern const char dumpUsage[];
extern const char renderUsage[];
extern const char viewUsage[];
// "usage: trails COMMAND [options]", every command's text and `help`.
extern const char trailsUsage[];
