#include <gtest/gtest.h>

#include <string>

#include "protocol/wss_reply.h"

namespace talvor {
namespace {

byte_vector bytes(std::string_view s) { return byte_vector(s.begin(), s.end()); }
std::string text(const byte_vector& b) { return std::string(b.begin(), b.end()); }

TEST(RequestNumber, RunsToLastThenWrapsToOne)
{
    EXPECT_EQ(next_request_number(0), 1u);
    EXPECT_EQ(next_request_number(41), 42u);
    EXPECT_EQ(next_request_number(16777214), 16777215u);
    EXPECT_EQ(next_request_number(16777215), 1u);
    // A counter that somehow went past the range comes back into it.
    EXPECT_EQ(next_request_number(0xFFFFFFFFu), 1u);
}

TEST(ReplyCheck, AcceptsMatchingReplyAndKeepsOnlyPayload)
{
    auto m = bytes("data:12,200,salt-with,commas");
    EXPECT_EQ(check_reply(m, 12), 200);
    EXPECT_EQ(text(m), "salt-with,commas");

    auto upper = bytes("DATA:3,403,");
    EXPECT_EQ(check_reply(upper, 3), 403);
    EXPECT_TRUE(upper.empty());

    auto mixed = bytes("DaTa:16777215,0,x");
    EXPECT_EQ(check_reply(mixed, 16777215), 0);
    EXPECT_EQ(text(mixed), "x");

    // The payload is binary: NUL bytes survive.
    auto bin = bytes(std::string("data:1,200,a\0b", 14));
    EXPECT_EQ(check_reply(bin, 1), 200);
    EXPECT_EQ(bin.size(), 3u);
}

TEST(ReplyCheck, OtherRequestsNumberFails)
{
    auto m = bytes("data:6,200,admin");
    EXPECT_EQ(check_reply(m, 7), -1);
}

TEST(ReplyCheck, FormatFaultsFail)
{
    for (const char* bad : {
             "data:7,200",          // no second comma
             "data:7200",           // no comma at all
             "",                    //
             "date:7,200,",         // wrong prefix
             " data:7,200,",        // leading blank
             "data: 7,200,",        // not a digit after the colon
             "data:,200,",          // empty number
             "data:7,,",            // empty status
             "data:7,-200,",        // negative status
             "data:7,+200,",        // sign
             "data:7,20x,",         // junk in the status
             "data:7x,200,",        // junk in the number
             "data:99999999999,200,", // number out of range
             "data:7,99999999999,",   // status out of range
             "data;7,200,",
         }) {
        auto m = bytes(bad);
        EXPECT_EQ(check_reply(m, 7), -1) << '"' << bad << '"';
    }
}

} // namespace
} // namespace talvor
