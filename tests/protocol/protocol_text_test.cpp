#include <gtest/gtest.h>

#include <string>

#include "protocol/auth_query.h"
#include "protocol/key_derivation.h"
#include "protocol/role_text.h"
#include "protocol/zt_hub.h"

namespace talvor {
namespace {

TEST(AuthQuery, TokenGoesFirstInTheQuery)
{
    EXPECT_EQ(with_auth_query("/gen_conf_get.action", std::string("T1")), "/gen_conf_get.action?auth=T1");
    EXPECT_EQ(with_auth_query("/modbus_get.action?start=1&count=2&interval=3", std::string("ab")),
              "/modbus_get.action?auth=ab&start=1&count=2&interval=3");
    EXPECT_EQ(with_auth_query("/conf_get.action", std::nullopt), "/conf_get.action");
    // A form body has no '?', so the token is appended.
    EXPECT_EQ(with_auth_query("start=4608&count=1&regs[]=5", std::string("z")), "start=4608&count=1&regs[]=5?auth=z");
}

TEST(CsrfRenewal, DoubleZeroOnlyAtEvenOffsets)
{
    EXPECT_TRUE(csrf_wants_renewal("00ab"));
    EXPECT_TRUE(csrf_wants_renewal("ab1200"));
    EXPECT_FALSE(csrf_wants_renewal("a00b"));   // odd offset
    EXPECT_FALSE(csrf_wants_renewal("a0 0b"));
    EXPECT_FALSE(csrf_wants_renewal("0"));
    EXPECT_FALSE(csrf_wants_renewal(""));
    EXPECT_TRUE(csrf_wants_renewal("1a000"));   // the pair at offset 2
}

TEST(HttpRole, ReadsFirstWordLowerCased)
{
    EXPECT_EQ(role_from_reply(std::string(1, '\0')), "admin");
    EXPECT_EQ(role_from_reply("  Admin\r\nmore text"), "admin");
    EXPECT_EQ(role_from_reply("\b\t\v\fUSER x"), "user");
    EXPECT_EQ(role_from_reply("admin"), "admin");
    EXPECT_EQ(role_from_reply(""), "");
    EXPECT_EQ(role_from_reply(" \r\n"), "");
    // Two NULs are not the short form of "admin".
    EXPECT_NE(role_from_reply(std::string(2, '\0')), "admin");
}

TEST(KeyDerivation, DependsOnlyOnTheConcatenation)
{
    EXPECT_EQ(derive_f("secret", "salt"), derive_f("sec", "retsalt"));
    EXPECT_EQ(derive_f("", "secretsalt"), derive_f("secretsalt", ""));
    EXPECT_NE(derive_f("secret", "salt"), derive_f("secret", "salu"));
    // Key schedule uses key byte i mod length: bytes past 256 take no part.
    const std::string k(256, 'k');
    EXPECT_EQ(derive_f(k, "tail one"), derive_f(k, "tail two"));
    const std::string hex = hex_lower(derive_f("a", "b"));
    EXPECT_EQ(hex.size(), 32u);
    EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST(AllowedProblems, ByTlsCheckLevel)
{
    EXPECT_EQ(problems_allowed_by(0), 15u);
    EXPECT_EQ(problems_allowed_by(1), 1u);
    EXPECT_EQ(problems_allowed_by(2), 0u);
    EXPECT_EQ(problems_allowed_by(7), 0u);
    EXPECT_EQ(problems_allowed_by(-1), 0u);
}

} // namespace
} // namespace talvor
