// Arithmetic of the progress window's "time left" line. No Win32 here: the
// clock is passed in, so the formula is tested natively.
#pragma once
#include <optional>

// Local date-times and durations are in days, as the window keeps them.
constexpr double kSecondsPerDay = 86400.0;

// The time left of a busy period, in days, or nothing while no estimate can
// be made: at the bar's minimum (nothing done yet) and during the first five
// seconds (too little to go on).
std::optional<double> EstimateTimeLeft(int position, int minimum, int maximum, double busyStart, double now);

// A duration as a time of day: whole days and the fraction of the last
// second are dropped.
struct ClockTime {
    int Hour;
    int Minute;
    int Second;
};
ClockTime ClockTimeOf(double days);
