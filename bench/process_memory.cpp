// The process's resident memory, kept apart from the bodies because it reads
// the operating system's view of the process.
#include <cstdlib>
#include <fstream>
#include <string>

#include "bodies.h"

long ResidentKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}
