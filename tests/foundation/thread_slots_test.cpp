#include "transport/thread_slots.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include "transport/job_thread.h"

using namespace std::chrono_literals;
using talvor::job_thread;
using talvor::thread_slots;

namespace {

// A job that says when it has started and returns once released.
struct held_job {
    std::promise<void> started;
    std::shared_future<void> started_future = started.get_future().share();
    std::shared_future<void> start_seen() { return started_future; }
};

bool within(const std::shared_future<void>& f, std::chrono::milliseconds limit)
{
    return f.wait_for(limit) == std::future_status::ready;
}

} // namespace

TEST(ThreadSlots, WorkersBeyondTheSlotsWaitTheirTurnInOrderAndAWithdrawnOneNeverRuns)
{
    thread_slots slots(1, std::chrono::milliseconds(60000));
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    held_job first;
    std::mutex m;
    std::vector<int> order;
    std::vector<std::unique_ptr<job_thread>> workers;
    for (int i = 0; i < 5; ++i)
        workers.push_back(std::make_unique<job_thread>(&slots));
    for (int i = 0; i < 5; ++i)
        workers[i]->post([&, i] {
            {
                std::lock_guard<std::mutex> g(m);
                order.push_back(i);
            }
            if (i == 0) {
                first.started.set_value();
                released.wait();
            }
        });

    ASSERT_TRUE(within(first.start_seen(), 5s));
    EXPECT_EQ(slots.taken(), 1u);
    EXPECT_EQ(slots.waiting(), 4u);
    EXPECT_EQ(workers[2]->pending(), 1u); // waiting, still counted

    workers[2].reset(); // gives up its turn
    EXPECT_EQ(slots.waiting(), 3u);
    release.set_value();
    for (int i : {0, 1, 3, 4})
        EXPECT_EQ(workers[i]->wait_idle(), 0);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 3, 4}));
}

TEST(ThreadSlots, AWorkerThatWorksLongerThanItsTimeNoLongerHoldsBackTheNext)
{
    thread_slots slots(1, std::chrono::milliseconds(100));
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    held_job first, second;
    job_thread a(&slots), b(&slots);
    a.post([&] {
        first.started.set_value();
        released.wait();
    });
    ASSERT_TRUE(within(first.start_seen(), 5s));
    b.post([&] { second.started.set_value(); });
    // The first never returns by itself: only its age frees the slot.
    EXPECT_TRUE(within(second.start_seen(), 5s));
    release.set_value();
    EXPECT_EQ(a.wait_idle(), 0);
    EXPECT_EQ(b.wait_idle(), 0);
}
