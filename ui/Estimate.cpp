#include "ui/Estimate.h"

#include <cmath>

namespace {

constexpr long long kMsPerDay = 86400000;

// The clock ticks in milliseconds; rounding to them first keeps a difference
// of exactly five seconds from reading as 5.000001 or 4.999999. The whole
// milliseconds stay in a double (exact up to 2^53): 64-bit integer division
// would link the runtime's long division helpers into the stub. Rounded half
// away from zero, as std::round does, but without the runtime's round, floor
// or fmod (hundreds of bytes of the stub): a run's milliseconds fit a long
// long many times.
double WholePart(double value) { return static_cast<double>(static_cast<long long>(value)); }
double Milliseconds(double days)
{
    double ms = days * static_cast<double>(kMsPerDay);
    return WholePart(ms < 0 ? ms - 0.5 : ms + 0.5);
}

} // namespace

std::optional<double> EstimateTimeLeft(int position, int minimum, int maximum, double busyStart, double now)
{
    if (position == minimum)
        return std::nullopt;
    double elapsed = now - busyStart;
    if (Milliseconds(elapsed) <= 5000)
        return std::nullopt;
    double range = static_cast<double>(maximum) - minimum;
    double done = static_cast<double>(position) - minimum;
    double left = (range / done - 1.0) * elapsed;
    // Only a reversed range gets here with a negative value.
    return left < 0 ? 0.0 : left;
}

ClockTime ClockTimeOf(double days)
{
    const double perDay = static_cast<double>(kMsPerDay);
    double total = Milliseconds(std::fabs(days));
    int ms = static_cast<int>(total - WholePart(total / perDay) * perDay);
    int seconds = ms / 1000;
    return ClockTime{seconds / 3600, seconds / 60 % 60, seconds % 60};
}
