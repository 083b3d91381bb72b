// trails: the Chaos Trails command-line tool.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "tools/trails/command_line.h"

int RunDumpCommand(int argc, char** argv);

namespace {

const char usage[] =
    "usage: trails COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  dump --seed S [--rect L,T,R,B] --schedule SCHEDULE --out FILE\n"
    "        run a schedule of set-ups (s), frees (x), ticks (tN) and frames (fN)\n"
    "        and write the whole scene state to FILE\n"
    "  help  show this text\n";

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0 ||
        std::strcmp(argv[1], "-h") == 0) {
        std::fputs(usage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const std::string command = argv[1];
    try {
        if (command == "dump") return RunDumpCommand(argc, argv);
        std::fprintf(stderr, "trails: unknown command '%s' (try 'trails help')\n", command.c_str());
        return 2;
    } catch (const UsageError& error) {
        std::fprintf(stderr, "trails %s: %s\n", command.c_str(), error.what());
        return 2;
    } catch (const std::exception& error) {
        // Unwritable output and the like: nothing half-written is left behind.
        std::fprintf(stderr, "trails %s: %s\n", command.c_str(), error.what());
        return 2;
    }
}
