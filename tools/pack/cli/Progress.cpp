#include "tools/pack/cli/Progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {

// A terminal gets one line redrawn; a log one line a second.
constexpr auto kFirstAfter = std::chrono::seconds(1);
constexpr auto kTerminalEvery = std::chrono::milliseconds(200);
constexpr auto kLogEvery = std::chrono::seconds(1);

} // namespace

Progress::Progress(ProgressMode mode, uint64_t total)
    : total_(total), terminal_(isatty(2) == 1), forced_(mode == ProgressMode::Always)
{
    if (mode == ProgressMode::Never || total == 0 || (!forced_ && !terminal_))
        return;
    thread_ = std::thread([this] { Run(); });
}

Progress::~Progress() { Finish(); }

void Progress::Finish()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
    if (shown_)
        Show(true);
}

void Progress::Run()
{
    const auto start = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    if (!forced_ && wake_.wait_until(lock, start + kFirstAfter, [this] { return stop_; }))
        return;
    while (!stop_) {
        Show(false);
        wake_.wait_for(lock, terminal_ ? kTerminalEvery : kLogEvery, [this] { return stop_; });
    }
}

void Progress::Show(bool last)
{
    const uint64_t done = done_.load();
    const unsigned percent = static_cast<unsigned>(done * 100 / total_);
    std::fprintf(stderr, "%scabsetup: packing %3u%% (%.1f of %.1f MB)%s", terminal_ ? "\r" : "", percent,
                 double(done) / 1e6, double(total_) / 1e6, terminal_ && !last ? "" : "\n");
    std::fflush(stderr);
    shown_ = true;
}
