#include "C_Recycling_Queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace Selvan::MURA::demux {
namespace {

// The queue grows while the consumer holds its front element: the element must stay where it
// is and everything arrive in order. A queue that read the element's pointer out of its slot
// after a grow had moved the slot read freed memory; the ThreadSanitizer run reports such an
// unordered read. The pauses only make the grow come while the consumer holds the first
// element; no synchronisation may order the two, or the report is lost.
TEST(RecyclingQueue, FrontElementStaysReadableWhileTheProducerGrowsTheRing) {
    constexpr int COUNT = 100;
    C_Recycling_Queue<int> queue(4);
    auto push = [&queue](int value) {
        std::unique_ptr<int> element = queue.acquire();
        *element = value;
        queue.push(std::move(element));
    };
    std::thread consumer([&queue] {
        for (int expected = 0; expected < COUNT; ++expected) {
            const int& front = queue.wait_front();
            if (expected == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
            ASSERT_EQ(front, expected);
            queue.pop_front();
        }
    });
    push(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (int i = 1; i < COUNT; ++i)
        push(i);
    consumer.join();
    EXPECT_EQ(queue.size(), 0u);
}

} // namespace
} // namespace Selvan::MURA::demux
