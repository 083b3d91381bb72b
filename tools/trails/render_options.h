// Option parsing and output checks shared by `trails render` and `trails view`.
#pragma once

#include <cstdint>
#include <string>

#include "tools/trails/command_line.h"

// A positive decimal number of seconds, such as 10 or 2.5.
double ParseSeconds(const std::string& option, const std::string& text);

enum class OutputKind { Png, Mp4, Webm };

// From the file name's extension, case-insensitively; throws UsageError for
// anything but .png, .mp4 and .webm.
OutputKind OutputKindOf(const std::string& path);
const char* ExtensionOf(OutputKind kind);

// Makes sure a file can be created beside `path` (by creating and removing a
// probe file there) and that `path` is not a directory, so that a long render
// does not end in an unwritable path. Throws std::runtime_error naming it.
void CheckOutputWritable(const std::string& path);

// Directory part of a path, "." when it has none.
std::string DirectoryOf(const std::string& path);
