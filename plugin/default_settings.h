// The numbered settings a host asks QueryDefaultSettings about before set-up,
// with the plug-in's answers. What a key stands for is the host's business;
// the plug-in only answers for these four, and hands any other key's default
// back unchanged. One table, read by the export (plugin/entry_points.cpp) and
// by our own hosts (tools/host_contract.h), so the numbers stand in one place.
#pragma once

#include <cstdint>

struct DefaultSetting {
    uint32_t key;
    int32_t value;
};

constexpr DefaultSetting defaultSettings[] = {
    {1, 0},
    {2, 0},
    {3, 30},
    {7, 1},
};
