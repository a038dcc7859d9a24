#pragma once

#include <memory>
#include <mutex>

namespace Selvan::MURA::demux {

// A weak reference to a downstream listener that the controlling thread may replace while a
// worker thread uses it. The mutex is held only to copy the reference, never during a call.
template <class Listener>
class C_Listener_Slot {
public:
    void set(std::weak_ptr<Listener> listener) {
        std::lock_guard lock(m_mutex);
        m_listener = std::move(listener);
    }
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
};

} // namespace Selvan::MURA::demux
