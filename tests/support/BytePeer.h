#pragma once
// A small byte peer on the master side of a pseudo-terminal: it records every byte the
// program sends and plays scripted replies, with pauses, from its own thread.

#include "link/PseudoTerminal.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zq455::test {

class TBytePeer {
public:
    TBytePeer() : thread([this] { Run(); }) {}
    ~TBytePeer() {
        stop = true;
        cv.notify_all();
        thread.join();
    }

    const std::string& Path() const { return pty.SlavePath(); }
    TPseudoTerminal& Pty() { return pty; }

    // Queues bytes to be written after `delay_ms`.
    void Send(std::vector<uint8_t> bytes, int delay_ms = 0) {
        std::lock_guard<std::mutex> guard(lock);
        script.push_back({std::move(bytes), delay_ms, 0});
        cv.notify_all();
    }
    // Queues bytes to be written once the program has sent `after_bytes` bytes in all.
    void SendAfter(size_t after_bytes, std::vector<uint8_t> bytes, int delay_ms = 0) {
        std::lock_guard<std::mutex> guard(lock);
        script.push_back({std::move(bytes), delay_ms, after_bytes});
        cv.notify_all();
    }
    // Bytes the program has sent so far.
    std::vector<uint8_t> Received() {
        std::lock_guard<std::mutex> guard(lock);
        return received;
    }
    // Waits until the program has sent at least `count` bytes.
    bool WaitReceived(size_t count, int timeout_ms = 2000) {
        std::unique_lock<std::mutex> guard(lock);
        return cv.wait_for(guard, std::chrono::milliseconds(timeout_ms), [&] { return received.size() >= count; });
    }
    // Waits until every queued reply has been written.
    bool WaitIdle(int timeout_ms = 5000) {
        std::unique_lock<std::mutex> guard(lock);
        return cv.wait_for(guard, std::chrono::milliseconds(timeout_ms), [&] { return script.empty() && !busy; });
    }

private:
    struct TStep {
        std::vector<uint8_t> bytes;
        int delay_ms;
        size_t after_bytes;
    };

    void Run() {
        uint8_t chunk[4096];
        while (!stop) {
            long n = pty.ReadMaster(chunk, sizeof chunk, 2);
            if (n < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            std::unique_lock<std::mutex> guard(lock);
            if (n > 0)
                received.insert(received.end(), chunk, chunk + n);
            if (!script.empty() && received.size() >= script.front().after_bytes) {
                TStep step = std::move(script.front());
                script.pop_front();
                busy = true;
                guard.unlock();
                if (step.delay_ms > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(step.delay_ms));
                pty.WriteMaster(step.bytes.data(), step.bytes.size());
                guard.lock();
                busy = false;
            }
            cv.notify_all();
        }
    }

    TPseudoTerminal pty;
    std::mutex lock;
    std::condition_variable cv;
    std::deque<TStep> script;
    std::vector<uint8_t> received;
    bool busy = false;
    std::atomic<bool> stop{false};
    std::thread thread;
};

inline double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace zq455::test
