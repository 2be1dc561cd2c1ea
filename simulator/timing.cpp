// How long the device is busy with each call, and the waiting for it.

#include "state.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <unistd.h>

namespace zarnsim {

namespace detail {

namespace {

constexpr uint64_t bytesPerKiB = 1024;
constexpr uint64_t nsPerUs = 1000;

std::atomic<uint64_t> busyTotal{0};
std::atomic<bool> sleeping{true};

} // namespace

uint64_t transferNs(uint32_t perKiBUs, uint32_t singleWordUs, uint64_t bytes)
{
    if (bytes == wordSize)
        return uint64_t(singleWordUs) * nsPerUs;
    return uint64_t(perKiBUs) * nsPerUs * bytes / bytesPerKiB;
}

uint64_t eraseNs(const Timing &timing)
{
    return uint64_t(timing.pageEraseUs) * nsPerUs;
}

void addBusy(uint64_t ns)
{
    busyTotal.fetch_add(ns, std::memory_order_relaxed);
}

void resetTiming(State &s)
{
    s.timing = Timing();
    busyTotal.store(0);
    sleeping.store(true);
}

void settle(uint64_t busyNs, uint64_t workedNs)
{
    // Short calls would oversleep badly one by one; a per-thread debt keeps
    // the total right while sleeping at most once a millisecond.
    constexpr int64_t leastSleepNs = 1000000;
    thread_local int64_t debtNs = 0;
    if (busyNs == 0 || !sleeping.load(std::memory_order_relaxed))
        return;
    debtNs += int64_t(busyNs - std::min(busyNs, workedNs));
    if (debtNs < leastSleepNs)
        return;
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::nanoseconds(debtNs));
    debtNs -= std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
                  .count();
}

void blockForever()
{
    // Signals with handlers still run, and end the wait only to begin it
    // again; a signal that ends the process ends it here too.
    for (;;)
        ::pause();
}

} // namespace detail

Timing timingProfile(const std::string &name)
{
    // A NOR part of the kind the ZARN board carries; "demo" is slow enough
    // to watch an update of the sample file (about half a minute).
    if (name == "nor")
        return {200000, 400, 10, 20};
    if (name == "fast")
        return {20000, 40, 1, 2};
    if (name == "demo")
        return {400000, 10000, 2000, 20000};
    return {};
}

void setTiming(const Timing &timing)
{
    auto &s = detail::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.timing = timing;
}

uint64_t busyNanoseconds()
{
    return detail::busyTotal.load();
}

void resetBusy()
{
    detail::busyTotal.store(0);
}

void setSleeping(bool on)
{
    detail::sleeping.store(on);
}

} // namespace zarnsim
