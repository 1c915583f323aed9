#include <gtest/gtest.h>

#include <thread>

#include "raw_server.h"
#include "transport/conn_sess.h"

namespace talvor {
namespace {

TEST(ConnSess, HostTextIsDottedForMappedAndBracketedForIpv6)
{
    EXPECT_EQ(host_text(test::mapped("127.4.0.1")), "127.4.0.1");
    ip_address v6{0x20, 0x01, 0x0d, 0xb8};
    v6[15] = 1;
    EXPECT_EQ(host_text(v6), "[2001:db8::1]");
    ip_address loop{};
    loop[15] = 1;
    EXPECT_EQ(host_text(loop), "[::1]");
    auto s = conn_sess::create(test::mapped("10.0.0.200"), "Talvor Manager");
    EXPECT_EQ(s->host(), "10.0.0.200");
    EXPECT_EQ(s->user_agent(), "Talvor Manager");
}

TEST(ConnSess, SetCookieValuesAreTrimmedUnquotedAndStoredByLowerCaseName)
{
    auto s = conn_sess::create(test::mapped("127.4.0.2"), "Talvor Manager");
    s->store_set_cookie("Csrf=\"x y\"   ; Path=/");
    EXPECT_EQ(s->cookie("csrf").value_or("?"), "x y");
    EXPECT_EQ(s->cookie("CSRF").value_or("?"), "x y");
    s->store_set_cookie("csrf=00ab");
    EXPECT_EQ(s->cookie("csrf").value_or("?"), "00ab");
    s->store_set_cookie("q=\"");        // one quote is not a quoted value
    EXPECT_EQ(s->cookie("q").value_or("?"), "\"");
    s->store_set_cookie("e=\"\"");
    EXPECT_EQ(s->cookie("e").value_or("?"), "");
    s->store_set_cookie("auth=a=b;c");  // split at the first '='
    EXPECT_EQ(s->cookie("auth").value_or("?"), "a=b");
    s->store_set_cookie("novalue");
    EXPECT_FALSE(s->cookie("novalue"));
}

TEST(ConnSess, WaitCancelTimesOutOrEndsWhenSetFromAnotherThread)
{
    auto s = conn_sess::create(test::mapped("127.4.0.3"), "Talvor Manager");
    EXPECT_TRUE(s->wait_cancel(1));
    EXPECT_FALSE(s->cancelled());
    std::thread t([&] { s->set_cancel(true); });
    EXPECT_FALSE(s->wait_cancel(60000)); // ends as soon as the event is set
    t.join();
    EXPECT_TRUE(s->cancelled());
    EXPECT_FALSE(s->wait_cancel(1));
    s->set_cancel(false);
    EXPECT_TRUE(s->wait_cancel(1));
}

} // namespace
} // namespace talvor
