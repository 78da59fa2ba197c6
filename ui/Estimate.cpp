#include "ui/Estimate.h"

#include <cmath>

namespace {

constexpr long long kMsPerDay = 86400000;

// The clock ticks in milliseconds; rounding to them first keeps a difference
// of exactly five seconds from reading as 5.000001 or 4.999999.
long long Milliseconds(double days) { return std::llround(days * static_cast<double>(kMsPerDay)); }

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
    long long ms = Milliseconds(std::fabs(days)) % kMsPerDay;
    long long seconds = ms / 1000;
    return ClockTime{static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                     static_cast<int>(seconds % 60)};
}
