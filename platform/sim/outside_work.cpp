// Work done by threads outside the message loop (a peer reading a serial
// device) that will hand the loop something soon: the virtual clock waits
// for it instead of jumping past it, and a post or new piece of scheduled
// work wakes a loop that waits on the wall clock.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "sim.h"

namespace {

struct Outside {
    std::mutex lock;
    std::condition_variable wake;
    uint64_t generation = 0;
    std::map<uint64_t, std::function<bool()>> checks;
    uint64_t nextId = 1;
    std::map<uint64_t, int64_t> transit;  // bytes on their way, per serial direction
    std::chrono::steady_clock::time_point busySince;
    bool busy = false;
};

// A check busy for longer than this on the wall clock is taken as stuck.
constexpr auto kStuck = std::chrono::seconds(2);

Outside& OutsideWorkers() {
    static Outside* o = [] {
        auto* created = new Outside();
        sim::AddResetHook([] {
            std::lock_guard<std::mutex> g(OutsideWorkers().lock);
            OutsideWorkers().transit.clear();
            OutsideWorkers().busy = false;
        });
        return created;
    }();
    return *o;
}

}  // namespace

namespace sim {

uint64_t AddOutsideWork(std::function<bool()> busy) {
    std::lock_guard<std::mutex> g(OutsideWorkers().lock);
    uint64_t id = OutsideWorkers().nextId++;
    OutsideWorkers().checks.emplace(id, std::move(busy));
    return id;
}

void RemoveOutsideWork(uint64_t id) {
    std::lock_guard<std::mutex> g(OutsideWorkers().lock);
    OutsideWorkers().checks.erase(id);
}

bool OutsideWorkPending() {
    std::map<uint64_t, std::function<bool()>> checks;
    bool busy = false;
    {
        std::lock_guard<std::mutex> g(OutsideWorkers().lock);
        checks = OutsideWorkers().checks;
        for (auto& [key, n] : OutsideWorkers().transit) busy = busy || n > 0;
    }
    for (auto& [id, check] : checks) busy = busy || check();
    std::lock_guard<std::mutex> g(OutsideWorkers().lock);
    auto now = std::chrono::steady_clock::now();
    if (!busy) {
        OutsideWorkers().busy = false;
        return false;
    }
    if (!OutsideWorkers().busy) {
        OutsideWorkers().busy = true;
        OutsideWorkers().busySince = now;
    }
    return now - OutsideWorkers().busySince < kStuck;
}

void SerialWatch(uint64_t key) {
    std::lock_guard<std::mutex> g(OutsideWorkers().lock);
    OutsideWorkers().transit.emplace(key, 0);
}

void SerialSent(uint64_t key, size_t n) {
    std::lock_guard<std::mutex> g(OutsideWorkers().lock);
    auto it = OutsideWorkers().transit.find(key);
    if (it != OutsideWorkers().transit.end()) it->second += static_cast<int64_t>(n);
}

void SerialTaken(uint64_t key, size_t n) {
    {
        std::lock_guard<std::mutex> g(OutsideWorkers().lock);
        auto it = OutsideWorkers().transit.find(key);
        if (it == OutsideWorkers().transit.end()) return;
        it->second = std::max<int64_t>(0, it->second - static_cast<int64_t>(n));
    }
    WakeLoop();
}

int64_t SerialInTransit(uint64_t key) {
    std::lock_guard<std::mutex> g(OutsideWorkers().lock);
    auto it = OutsideWorkers().transit.find(key);
    return it == OutsideWorkers().transit.end() ? 0 : it->second;
}

void SerialForget(uint64_t key) {
    {
        std::lock_guard<std::mutex> g(OutsideWorkers().lock);
        OutsideWorkers().transit.erase(key);
    }
    WakeLoop();
}

bool OutsideWorkRegistered() {
    std::lock_guard<std::mutex> g(OutsideWorkers().lock);
    return !OutsideWorkers().checks.empty();
}

void WakeLoop() {
    {
        std::lock_guard<std::mutex> g(OutsideWorkers().lock);
        ++OutsideWorkers().generation;
    }
    OutsideWorkers().wake.notify_all();
}

uint64_t WakeGeneration() {
    std::lock_guard<std::mutex> g(OutsideWorkers().lock);
    return OutsideWorkers().generation;
}

void WaitForWake(uint64_t seen, Micros maxWait) {
    std::unique_lock<std::mutex> g(OutsideWorkers().lock);
    OutsideWorkers().wake.wait_for(g, std::chrono::microseconds(maxWait), [&] { return OutsideWorkers().generation != seen; });
}

}  // namespace sim
