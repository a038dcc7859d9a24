#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace Selvan::MURA::demux {

// A weak reference to a downstream listener that the controlling thread may replace while a
// worker thread uses it. The mutex is held only to copy the reference, never during a call.
// The generation counts the replacements, so that a worker holding the listener can tell with
// one atomic load whether it is still the one in the slot.
template <class Listener>
class C_Listener_Slot {
public:
    void set(std::weak_ptr<Listener> listener) {
        std::lock_guard lock(m_mutex);
        m_listener = std::move(listener);
        m_generation.fetch_add(1, std::memory_order_release);
    }
    uint64_t generation() const { return m_generation.load(std::memory_order_acquire); }
    std::weak_ptr<Listener> get() const {
        std::lock_guard lock(m_mutex);
        return m_listener;
    }
    std::shared_ptr<Listener> lock() const {
        std::lock_guard lock(m_mutex);
        return m_listener.lock();
    }

private:
    mutable std::mutex m_mutex;
    std::weak_ptr<Listener> m_listener;
    std::atomic<uint64_t> m_generation{0};
};

} // namespace Selvan::MURA::demux
