#include "tools/trails/power_supply.h"

#include <cstdlib>
#include <fstream>

#include <dirent.h>

namespace {

// The first line of a file of the supply, "" when it has none.
std::string ReadAttribute(const std::string& supply, const char* name)
{
    std::ifstream in(supply + "/" + name);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

std::string PowerSupplyDirectory()
{
    const char* directory = std::getenv("TRAILS_POWER_SUPPLY_DIR");
    return directory != nullptr && *directory != '\0' ? directory : "/sys/class/power_supply";
}

// Each supply is a directory with its type, and online (mains) or status
// (batteries); scope "Device" marks a peripheral's own battery.
bool RunsOnBattery(const std::string& directory)
{
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr)
        return false;
    bool mainsOnline = false;
    bool discharging = false;
    while (const dirent* entry = readdir(listing)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string supply = directory + "/" + entry->d_name;
        if (ReadAttribute(supply, "scope") == "Device")
            continue;
        const std::string type = ReadAttribute(supply, "type");
        if (type == "Battery") {
            discharging |= ReadAttribute(supply, "status") == "Discharging";
        } else if (!type.empty()) {
            mainsOnline |= ReadAttribute(supply, "online") == "1";
        }
    }
    closedir(listing);
    return discharging && !mainsOnline;
}
