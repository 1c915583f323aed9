#include "transport/json_text.h"

#include <gtest/gtest.h>

namespace jt = talvor::json_text;

TEST(JsonText, EnvelopesAreByteExact)
{
    EXPECT_EQ(jt::envelope(7, "reboot.action", jt::reboot_data(1)),
              R"({ "_id" : 7, "request" : "reboot.action", "data" : { "reboot" : 1 } })");
    EXPECT_EQ(jt::envelope(16777215, "auth_salt.action"), R"({ "_id" : 16777215, "request" : "auth_salt.action" })");
}

TEST(JsonText, DataObjectsAreByteExact)
{
    EXPECT_EQ(jt::pass_data("00ff"), R"({ "pass" : "00ff" })");
    EXPECT_EQ(jt::set_password_data("aa", "bb"), R"({ "pass" : "aa", "check" : "bb" })");
    EXPECT_EQ(jt::target_data(3), R"({ "target" : 3 })");
    EXPECT_EQ(jt::sdcard_clear_data(0), R"({ "sdcard_clear" : 0 })");
    EXPECT_EQ(jt::category_data(12), R"({ "cat" : 12 })");
    EXPECT_EQ(jt::modbus_read_data(4100, 16, 0), R"({ "start" : 4100, "count" : 16, "interval" : 0 })");
    EXPECT_EQ(jt::modbus_write_data(4608, {1, 2}), R"({ "start" : 4608, "count" : 2, "regs" : [ 1, 2 ] })");
    EXPECT_EQ(jt::modbus_write_data(1, {5}), R"({ "start" : 1, "count" : 1, "regs" : [ 5 ] })");
}
