#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <string>
#include <vector>

#include "protocol/upload_progress.h"

namespace talvor {
namespace {

// Feeds scripted progress replies ("" = no reply) and records the progress
// value seen at each pause.
struct scripted_unit {
    std::deque<std::string> replies;
    std::vector<double> seen;
    int polls = 0;
    bool cancel_at_pause = false;
    progress_range range{0.2, 0.7};

    int run()
    {
        return follow_upload_progress(
            [this]() -> json_ptr {
                ++polls;
                if (replies.empty())
                    return nullptr;
                std::string r = replies.front();
                replies.pop_front();
                return r.empty() ? nullptr : json_parser::from(r);
            },
            [this](int ms) {
                EXPECT_EQ(ms, 500);
                seen.push_back(range.value->get());
                return !cancel_at_pause;
            },
            range);
    }
};

TEST(UploadProgress, MapsUnitPercentOntoTheRestOfTheRange)
{
    scripted_unit u;
    u.range.value->set(0.25);
    u.replies = {R"({"status":1,"prog":20})", R"({"status":1,"prog":60})", R"({"status":1,"prog":100})",
                 R"({"status":3})"};
    EXPECT_EQ(u.run(), 200);
    // Polled part starts at 0.2 + 0.1 * 0.5 = 0.25 and ends at 0.7; the
    // lowest percentage seen (20) is its start.
    ASSERT_EQ(u.seen.size(), 3u);
    EXPECT_DOUBLE_EQ(u.seen[0], 0.25);
    EXPECT_DOUBLE_EQ(u.seen[1], 0.25 + 0.45 * 0.5);
    EXPECT_DOUBLE_EQ(u.seen[2], 0.7);
    EXPECT_DOUBLE_EQ(u.range.value->get(), 0.7);
}

TEST(UploadProgress, DoneWhenStatusIsThreeOrAbsent)
{
    scripted_unit three;
    three.replies = {R"({"status":3})"};
    EXPECT_EQ(three.run(), 200);
    EXPECT_DOUBLE_EQ(three.range.value->get(), 0.7);

    scripted_unit absent;
    absent.replies = {R"({"prog":40})"};
    EXPECT_EQ(absent.run(), 200);
    EXPECT_DOUBLE_EQ(absent.range.value->get(), 0.7);
}

TEST(UploadProgress, FailureStatusesAndMissingRepliesEndWithMinusOne)
{
    for (const char* reply : {R"({"status":2})", R"({"status":0})", R"({"status":"busy"})", R"({"status":1e400})",
                              R"({"status":null})", R"([3])", "not json", ""}) {
        scripted_unit u;
        u.replies = {R"({"status":1,"prog":10})", reply};
        EXPECT_EQ(u.run(), -1) << reply;
        EXPECT_EQ(u.polls, 2) << reply;
    }
}

TEST(UploadProgress, RunningWithoutUsablePercentKeepsTheLastValue)
{
    scripted_unit u;
    u.replies = {R"({"status":1,"prog":0})", R"({"status":1,"prog":50})", R"({"status":1})",
                 R"({"status":1,"prog":"x"})", R"({"status":1,"prog":1e999})", R"({"status":1,"prog":250})",
                 R"({"status":3})"};
    EXPECT_EQ(u.run(), 200);
    ASSERT_EQ(u.seen.size(), 6u);
    for (std::size_t i = 2; i < u.seen.size(); ++i) {
        EXPECT_FALSE(std::isnan(u.seen[i]));
        EXPECT_DOUBLE_EQ(u.seen[i], u.seen[1]);
    }
}

TEST(UploadProgress, AllDoneFromTheStartSetsTheHighEnd)
{
    scripted_unit u;
    u.replies = {R"({"status":1,"prog":100})", R"({"status":3})"};
    EXPECT_EQ(u.run(), 200);
    ASSERT_EQ(u.seen.size(), 1u);
    EXPECT_DOUBLE_EQ(u.seen[0], 0.7);
}

TEST(UploadProgress, CancelDuringPauseStops)
{
    scripted_unit u;
    u.cancel_at_pause = true;
    u.replies = {R"({"status":1,"prog":10})", R"({"status":3})"};
    EXPECT_EQ(u.run(), -998);
    EXPECT_EQ(u.polls, 1);
}

} // namespace
} // namespace talvor
