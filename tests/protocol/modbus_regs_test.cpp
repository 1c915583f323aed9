#include <gtest/gtest.h>

#include "protocol/modbus_regs.h"

namespace talvor {
namespace {

int read(const char* json, int count, std::vector<int>& out)
{
    const auto p = json_parser::from(json);
    return modbus_regs_from(p.get(), count, out);
}

TEST(ModbusRegs, ExactCountOfNumbers)
{
    std::vector<int> out{9, 9, 9, 9};
    ASSERT_EQ(read(R"({"regs":[1,65535]})", 2, out), 0);
    EXPECT_EQ(out, (std::vector<int>{1, 65535}));
    ASSERT_EQ(read(R"({"Regs":[true, null, 7.9]})", 3, out), 0);
    EXPECT_EQ(out, (std::vector<int>{1, 0, 7}));
}

TEST(ModbusRegs, AnythingElseFailsAndLeavesOutputAlone)
{
    const std::vector<int> before{4, 5};
    for (const char* bad : {R"({"regs":[1,2,3]})", R"({"regs":[1]})", R"({"regs":[1,"2"]})", R"({"regs":[1,[2]]})",
                            R"({"regs":[1,1e99]})", R"({"regs":[1,x]})", R"({"regs":{"a":1,"b":2}})", R"({"reg":[1,2]})",
                            R"([1,2])"}) {
        std::vector<int> out = before;
        EXPECT_EQ(read(bad, 2, out), -1) << bad;
        EXPECT_EQ(out, before) << bad;
    }
    std::vector<int> out;
    EXPECT_EQ(modbus_regs_from(nullptr, 1, out), -1);
}

} // namespace
} // namespace talvor
