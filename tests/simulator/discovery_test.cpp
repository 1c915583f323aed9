// The discovery responder, asked by unicast on loopback.
#include "sim_fixture.h"

#include <gtest/gtest.h>

using namespace simtest;

namespace {

const std::string extended_request("\x1d\xbb\x00\x00\x00\x40", 6);
const std::string basic_request("\x1d\xbb\x00\x00\x00\x00", 6);

unsigned le16(const std::string& s, std::size_t at)
{
    return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8;
}

} // namespace

TEST(Discovery, UnitsAnswerFromTheirOwnAddressInTheFormAsked)
{
    auto fleet = start(R"({"units":[{"name":"t","kind":"wss","address":"127.3.30.1",
        "gen_conf":{"system":"622","mac0":"00:1a:2b:3c:4d:5e"},"discovery":{"id":"TLV123456789"}}]})");
    auto replies = wire::udp_exchange("127.3.30.1", 2211, extended_request);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].first, "127.3.30.1");
    const std::string& r = replies[0].second;
    ASSERT_EQ(r.size(), 152u);
    EXPECT_EQ(le16(r, 0), 0xBB1Du);
    EXPECT_EQ(le16(r, 2), 622u);
    EXPECT_EQ(le16(r, 4), 0xC000u);
    EXPECT_EQ(wire::hex(r.substr(6, 6)), "001a2b3c4d5e");
    EXPECT_EQ(r.substr(144, 3), "TLV");
    EXPECT_EQ(wire::hex(r.substr(147, 5)), "1234567890");

    replies = wire::udp_exchange("127.3.30.1", 2211, basic_request);
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_EQ(replies[0].second.size(), 68u);
    EXPECT_EQ(le16(replies[0].second, 4), 0x8000u);
    EXPECT_EQ(replies[0].second.substr(60, 3), "TLV");
    // Anything but the request is ignored.
    EXPECT_TRUE(wire::udp_exchange("127.3.30.1", 2211, "\x1d\xbc\x00\x00\x00\x40", 200).empty());
}

TEST(Discovery, MalformedRepliesOnRequest)
{
    auto fleet = start(R"({"units":[
      {"name":"a","kind":"http","address":"127.3.31.1","discovery":{"form":"basic_with_ext_flag"}},
      {"name":"b","kind":"http","address":"127.3.31.2","discovery":{"form":"extended_without_ext_flag"}},
      {"name":"c","kind":"http","address":"127.3.31.3","discovery":{"form":"bad_magic"}},
      {"name":"d","kind":"http","address":"127.3.31.4","discovery":{"system_code":700}},
      {"name":"e","kind":"http","address":"127.3.31.5","discovery":{"form":"silent"}},
      {"name":"f","kind":"http","address":"127.3.31.6","gen_conf":{"system":"522"}}]})");
    auto one = [](const std::string& a) {
        auto r = wire::udp_exchange(a, 2211, extended_request, 300);
        return r.size() == 1 ? r[0].second : std::string();
    };
    std::string a = one("127.3.31.1"), b = one("127.3.31.2"), c = one("127.3.31.3"), d = one("127.3.31.4");
    ASSERT_EQ(a.size(), 68u);
    EXPECT_EQ(le16(a, 4), 0xC000u);
    ASSERT_EQ(b.size(), 152u);
    EXPECT_EQ(le16(b, 4), 0x8000u);
    ASSERT_EQ(c.size(), 152u);
    EXPECT_NE(le16(c, 0), 0xBB1Du);
    ASSERT_EQ(d.size(), 152u);
    EXPECT_EQ(le16(d, 2), 700u);
    EXPECT_EQ(one("127.3.31.5"), "");
    std::string f = one("127.3.31.6");
    ASSERT_EQ(f.size(), 152u);
    EXPECT_EQ(le16(f, 2), 522u);
    auto log = fleet->requests("e");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].method, "UDP");
    EXPECT_EQ(log[0].body, extended_request);
}
