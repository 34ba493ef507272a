#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <sched.h>
#include <thread>
#include <vector>

namespace parallel {

// The cores this process may run on.
inline unsigned usableCores()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

// Calls work(i) for every i below count on up to usableCores() threads, each taking
// the next index when it is free. work must not throw.
template <typename Work>
void forEach(std::size_t count, Work work)
{
    std::size_t threads = std::min<std::size_t>(usableCores(), count);
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        for (std::size_t i = next++; i < count; i = next++)
            work(i);
    };
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < threads; ++t)
        pool.emplace_back(worker);
    worker();
    for (std::thread& thread : pool)
        thread.join();
}

}  // namespace parallel
