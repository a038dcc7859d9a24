// The data path's queues against Debian's single-producer single-consumer lock-free queue
// (readerwriterqueue): every queue of the data path has one producer and one consumer, and a
// consumer that waits when it is empty. Three measures: the round trip of one element through
// two queues between two threads that block when they find nothing, a stream of a million
// elements that the consumer takes as fast as the producer pushes them, and what the data path
// does at the box's rate: an element every millisecond to a consumer that waits for it, timed
// as the processor time both threads spend per element (the counter cpu_us_per_element).

#include "C_Blocking_Ring.h"

#include "Reader_Writer_Queue.h"
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <thread>

namespace {

using Selvan::MURA::C_Blocking_Ring;

constexpr int64_t STREAM_ELEMENTS = 1'000'000;

struct Ring_Queue {
    C_Blocking_Ring<uint64_t> ring{1024};
    void push(uint64_t value) { ring.push_back(value); }
    uint64_t pop() {
        uint64_t value = 0;
        ring.pop_range(&value, 1);
        return value;
    }
};

struct Reader_Writer_Queue {
    moodycamel::BlockingReaderWriterQueue<uint64_t> queue{1024};
    void push(uint64_t value) { queue.enqueue(value); }
    uint64_t pop() {
        uint64_t value = 0;
        queue.wait_dequeue(value);
        return value;
    }
};

template <class Queue>
void BM_RoundTrip(benchmark::State& state) {
    Queue there, back;
    std::thread echo([&] {
        for (uint64_t value = there.pop(); value != 0; value = there.pop())
            back.push(value);
    });
    uint64_t value = 1;
    for (auto _ : state) {
        there.push(value);
        benchmark::DoNotOptimize(back.pop());
        ++value;
    }
    there.push(0);
    echo.join();
}
BENCHMARK_TEMPLATE(BM_RoundTrip, Ring_Queue)->UseRealTime();
BENCHMARK_TEMPLATE(BM_RoundTrip, Reader_Writer_Queue)->UseRealTime();

template <class Queue>
void BM_Stream(benchmark::State& state) {
    for (auto _ : state) {
        Queue queue;
        std::thread consumer([&] {
            uint64_t sum = 0;
            for (int64_t i = 0; i < STREAM_ELEMENTS; ++i)
                sum += queue.pop();
            benchmark::DoNotOptimize(sum);
        });
        for (int64_t i = 1; i <= STREAM_ELEMENTS; ++i)
            queue.push(static_cast<uint64_t>(i));
        consumer.join();
    }
    state.SetItemsProcessed(state.iterations() * STREAM_ELEMENTS);
}
BENCHMARK_TEMPLATE(BM_Stream, Ring_Queue)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Stream, Reader_Writer_Queue)->UseRealTime()->Unit(benchmark::kMillisecond);

double process_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

template <class Queue>
void BM_EveryMillisecond(benchmark::State& state) {
    constexpr int ELEMENTS = 500;
    for (auto _ : state) {
        Queue queue;
        const double cpu_start = process_cpu_seconds();
        std::thread consumer([&] {
            for (int i = 0; i < ELEMENTS; ++i)
                benchmark::DoNotOptimize(queue.pop());
        });
        auto next = std::chrono::steady_clock::now();
        for (int i = 1; i <= ELEMENTS; ++i) {
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
            queue.push(static_cast<uint64_t>(i));
        }
        consumer.join();
        state.counters["cpu_us_per_element"] = 1e6 * (process_cpu_seconds() - cpu_start) / ELEMENTS;
    }
}
BENCHMARK_TEMPLATE(BM_EveryMillisecond, Ring_Queue)
    ->UseRealTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_EveryMillisecond, Reader_Writer_Queue)
    ->UseRealTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

} // namespace
