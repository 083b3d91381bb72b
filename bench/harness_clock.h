// The clocks of the timing harness: the calling thread's CPU time and a
// monotonic wall clock, on Linux and on Windows (also under Wine).
#pragma once

// Picks the CPU clock and measures its resolution; call once before the others.
void InitHarnessClocks();

// CPU time the calling thread has used, in seconds.
double ThreadCpuSeconds();

// A monotonic wall clock with sub-microsecond steps, in seconds.
double WallSeconds();

// Which CPU clock is in use, and the smallest step it was seen to take.
const char* CpuClockName();
double CpuClockResolution();

// A CPU clock whose steps are too coarse to time one call of a body (Windows'
// thread times advance by whole scheduler ticks of 10 to 16 ms).
bool CpuClockIsCoarse();

// Running under Wine rather than on Windows itself.
bool RunningUnderWine();
