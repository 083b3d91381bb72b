// trails: the Chaos Trails command-line tool. Run under the name chaos-trails
// (a link, as XScreenSaver starts its hacks by their own names) it is
// `trails view`.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "tools/trails/command_line.h"
#include "tools/trails/usage.h"

int RunDumpCommand(int argc, char** argv);
#ifndef _WIN32
int RunRenderCommand(int argc, char** argv);
int RunViewCommand(int argc, char** argv);
#endif

namespace {

bool RunAsScreenHack(const char* program)
{
    const char* name = std::strrchr(program, '/');
    name = name == nullptr ? program : name + 1;
    return std::strcmp(name, "chaos-trails") == 0;
}

const char* UsageOf(const std::string& command)
{
    if (command == "dump")
        return dumpUsage;
    if (command == "render")
        return renderUsage;
    if (command == "view")
        return viewUsage;
    return nullptr;
}

int Run(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0 ||
        std::strcmp(argv[1], "-h") == 0) {
        std::fputs(trailsUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const std::string command = argv[1];
    try {
        const char* usage = UsageOf(command);
        if (usage != nullptr && WantsHelp(argc, argv, 2)) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (command == "dump")
            return RunDumpCommand(argc, argv);
#ifdef _WIN32
        if (command == "render" || command == "view") {
            // They need libpng, ffmpeg and SDL2, which the Windows tool does
            // not carry; the plug-in itself shows the scene there.
            std::fprintf(stderr, "trails %s: not available in the Windows build; use the Linux build\n",
                         command.c_str());
            return 2;
        }
#else
        if (command == "render")
            return RunRenderCommand(argc, argv);
        if (command == "view")
            return RunViewCommand(argc, argv);
#endif
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

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 1 && RunAsScreenHack(argv[0])) {
        std::vector<char*> arguments(argv, argv + argc);
        static char view[] = "view";
        arguments.insert(arguments.begin() + 1, view);
        arguments.push_back(nullptr);
        return Run(argc + 1, arguments.data());
    }
    return Run(argc, argv);
}
