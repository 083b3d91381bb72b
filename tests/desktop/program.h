// A program the desktop and render tests start and watch: its output in
// files, its end waited for with a deadline, signals sent to it; and the
// scratch files and directories around it.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

class Program {
public:
    // Starts arguments[0] (looked up on PATH) with the extra environment
    // settings ("NAME=value"); its stdout and stderr go to files.
    Program(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {});
    ~Program();  // kills it if it still runs
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // True once the text shows up in its stdout (`times` times), false after
    // `seconds`.
    bool WaitForOutput(const std::string& text, double seconds, int times = 1);
    // True once it has exited, false after `seconds`.
    bool WaitForExit(double seconds);
    void Signal(int signal);

    pid_t Pid() const { return pid_; }
    bool Exited() const { return exited_; }
    int ExitStatus() const { return exitStatus_; }  // -1 unless it exited normally
    std::string Out() const;
    std::string Err() const;

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int exitStatus_ = -1;
    std::string directory_;
};

// The environment given, plus leak reports under the sanitizer build (off by
// default there, see Program), which do not change the exit status: Mesa
// unloads its driver at exit, and the blocks it keeps until then are
// reported under no library a suppression could name. LeaksInOurCode picks
// the reports that name a function of ours.
std::vector<std::string> LeakChecked(std::vector<std::string> environment);
// The leak reports in a program's stderr with a frame in this project's
// sources; empty when there are none (or no sanitizer).
std::string LeaksInOurCode(const std::string& err);

// Runs a program to its end (at most `seconds`, then it is killed).
struct Outcome {
    int exitStatus = -1;
    std::string out;
    std::string err;
};
Outcome RunProgram(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {},
                   double seconds = 120.0);

// Where the build put trails (and the chaos-trails link beside it).
std::string TrailsProgram();
std::string ScreenHackProgram();

// Where a running `trails view` stands, from the line SIGUSR1 has it print
// ("trails view: now: F frames and T ticks ...; HEADLESS-1 N frames, ...").
struct ViewStatus {
    std::string line;  // empty when none came
    long long frames = -1;
    long long ticks = -1;
    // Frames drawn on the Wayland output so far; -1 when it is not listed.
    long long FramesOn(const std::string& output) const;
};
ViewStatus AskViewStatus(Program& view);

// User and system time of a process so far, in seconds.
double CpuSeconds(pid_t pid);

// SIGTERM, as XScreenSaver and session managers end the view: a clean end
// within a second, status 0, the closing report, no leak of ours.
void ExpectCleanEndOnSigterm(Program& view);

// A directory of the test's own under $TMPDIR, removed with all it holds.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::string& Path() const { return path_; }
    std::string At(const std::string& name) const { return path_ + "/" + name; }
    // The names in it, sorted.
    std::vector<std::string> Entries() const;

private:
    std::string path_;
};

// The bytes of a file ("" when it cannot be read); a file written whole.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
// How often `what` occurs in the text.
int Count(const std::string& text, const std::string& what);
// Whether a program can be found on PATH (ffmpeg, sway, grim, weston).
bool OnPath(const std::string& program);
