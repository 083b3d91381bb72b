// Progress of a long render on stderr: a bar with the rate and the time left,
// redrawn in place at most a few times a second, when stderr is a terminal;
// nothing at all otherwise (the caller prints one summary line at the end).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class ProgressBar {
public:
    explicit ProgressBar(bool enabled);
    ~ProgressBar();  // leaves the terminal on a fresh line

    // Starts a phase of `total` steps; `unit` names a step in the rate
    // ("ticks", "frames").
    void Begin(const std::string& phase, uint64_t total, const std::string& unit);
    void Update(uint64_t done);
    // Clears the bar's line, for a message or the summary.
    void Clear();

    bool Enabled() const { return enabled_; }
    static bool StderrIsTerminal();

private:
    void Draw(uint64_t done);

    bool enabled_;
    bool drawn_ = false;
    std::string phase_;
    std::string unit_;
    uint64_t total_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

// "1:05", "12.3 s" style durations for messages.
std::string FormatDuration(double seconds);
