#include "transport/job_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using talvor::job_thread;

TEST(JobThread, RunsJobsInOrderAndWakesWhenIdle)
{
    job_thread t;
    std::mutex m;
    std::vector<int> order;
    // The thread is idle now: the first post must wake it.
    std::this_thread::sleep_for(20ms);
    for (int i = 0; i < 50; ++i)
        t.post([&, i] {
            std::lock_guard<std::mutex> g(m);
            order.push_back(i);
        });
    EXPECT_EQ(t.wait_idle(), 0);
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[i], i);
}

TEST(JobThread, EachBurstOfJobsRunsOnAThreadThatLeavesWhenIdle)
{
    job_thread t;
    std::atomic<int> ran{0};
    std::atomic<int> inside{0};
    // Posting while the last burst's thread is still on its way out must
    // neither lose the job nor run two threads at once.
    for (int i = 0; i < 200; ++i) {
        t.post([&] {
            EXPECT_EQ(++inside, 1);
            EXPECT_TRUE(t.on_this_thread());
            ++ran;
            --inside;
        });
        EXPECT_EQ(t.wait_idle(), 0);
    }
    EXPECT_EQ(ran.load(), 200);
    EXPECT_FALSE(t.on_this_thread());
}

TEST(JobThread, AJobCountsUntilItHasReturned)
{
    job_thread t;
    std::promise<void> started, release;
    auto release_future = release.get_future();
    std::atomic<bool> finished{false};
    EXPECT_EQ(t.post([&] {
        started.set_value();
        release_future.wait();
        std::this_thread::sleep_for(50ms);
        finished = true;
    }),
              1u);
    started.get_future().wait();
    EXPECT_EQ(t.pending(), 1u); // running, still counted
    EXPECT_EQ(t.post([] {}), 2u);
    release.set_value();
    EXPECT_EQ(t.wait_idle(), 0);
    EXPECT_TRUE(finished.load()); // 0 only after the last job returned
    EXPECT_EQ(t.pending(), 0u);
    EXPECT_EQ(t.wait_idle(), 0);
}

TEST(JobThread, WaitIdleGivesUpAfterThreeSecondsOnALongJob)
{
    job_thread t;
    std::promise<void> release;
    auto f = release.get_future().share();
    t.post([f] { f.wait(); });
    EXPECT_EQ(t.wait_idle(), -1);
    release.set_value();
    EXPECT_EQ(t.wait_idle(), 0);
}

TEST(JobThread, DestroyWaitsForTheRunningJobAndDropsTheRest)
{
    std::atomic<int> ran{0};
    {
        job_thread t;
        std::promise<void> started;
        t.post([&] {
            started.set_value();
            std::this_thread::sleep_for(100ms);
            ++ran;
        });
        for (int i = 0; i < 5; ++i)
            t.post([&] { ran += 100; });
        started.get_future().wait();
    }
    EXPECT_EQ(ran.load(), 1);
}

TEST(JobThread, AfterCurrentRunsOnTheWorkerBetweenTheRunningJobAndTheNext)
{
    job_thread t;
    EXPECT_FALSE(t.after_current([] {})); // nothing running: the caller goes on itself
    std::mutex m;
    std::vector<std::string> order;
    auto note = [&](std::string what) {
        std::lock_guard<std::mutex> g(m);
        order.push_back(std::move(what));
    };
    std::promise<void> started, release;
    auto release_future = release.get_future();
    t.post([&] {
        started.set_value();
        release_future.wait();
        note("first");
    });
    t.post([&] { note("second"); });
    started.get_future().wait();
    std::thread::id ran_on;
    EXPECT_TRUE(t.after_current([&] {
        ran_on = std::this_thread::get_id();
        note("after first");
    }));
    release.set_value();
    EXPECT_EQ(t.wait_idle(), 0);
    EXPECT_EQ(order, (std::vector<std::string>{"first", "after first", "second"}));
    EXPECT_NE(ran_on, std::this_thread::get_id());
}
