// A progress line on standard error while pack or cab writes a cabinet:
// shown on a terminal once the work has taken a second, always with
// --progress, never with --quiet.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

enum class ProgressMode { Auto, Always, Never };

class Progress {
public:
    // `total` bytes are to be counted in Counter().
    Progress(ProgressMode mode, uint64_t total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    std::atomic<uint64_t>* Counter() { return &done_; }
    // Stops the line; a shown one ends with its last figure.
    void Finish();

private:
    void Run();
    void Show(bool last);

    const uint64_t total_;
    const bool terminal_;
    bool forced_;
    bool shown_ = false;
    std::atomic<uint64_t> done_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};
