#include "tools/trails/progress.h"

#include <cstdio>

#include <unistd.h>

namespace {

const int barWidth = 28;

double SecondsBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

std::string FormatDuration(double seconds)
{
    char text[32];
    if (seconds < 60.0) {
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    } else {
        const long whole = static_cast<long>(seconds + 0.5);
        if (whole >= 3600) {
            std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
        } else {
            std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
        }
    }
    return text;
}

ProgressBar::ProgressBar(bool enabled) : enabled_(enabled) {}

ProgressBar::~ProgressBar() { Clear(); }

bool ProgressBar::StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void ProgressBar::Begin(const std::string& phase, uint64_t total, const std::string& unit)
{
    phase_ = phase;
    unit_ = unit;
    total_ = total;
    start_ = std::chrono::steady_clock::now();
    lastDraw_ = start_;
    if (enabled_)
        Draw(0);
}

void ProgressBar::Update(uint64_t done)
{
    if (!enabled_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total_ && SecondsBetween(lastDraw_, now) < 0.2)
        return;
    lastDraw_ = now;
    Draw(done);
}

void ProgressBar::Draw(uint64_t done)
{
    const double fraction = total_ == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total_);
    const int filled = static_cast<int>(fraction * barWidth);
    char bar[barWidth + 1];
    for (int i = 0; i < barWidth; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[barWidth] = '\0';

    const double elapsed = SecondsBetween(start_, std::chrono::steady_clock::now());
    char rate[64] = "";
    if (done > 0 && elapsed > 0.0) {
        const double perSecond = static_cast<double>(done) / elapsed;
        const double left = static_cast<double>(total_ - done) / perSecond;
        std::snprintf(rate, sizeof rate, ", %.1f %s/s, %s left", perSecond, unit_.c_str(),
                      FormatDuration(left).c_str());
    }
    // \r and erase-line: the bar overwrites itself on one line.
    std::fprintf(stderr, "\r\033[K%s [%s] %3d%% %llu/%llu %s%s", phase_.c_str(), bar,
                 static_cast<int>(fraction * 100.0), static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(total_), unit_.c_str(), rate);
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::Clear()
{
    if (enabled_ && drawn_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    drawn_ = false;
}
