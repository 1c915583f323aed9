#pragma once
// A unit at 192.168.1.20 with a fake session, for the reader tests.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "inventory/unit_group.h"
#include "inventory/unit_info.h"
#include "tests/support/fake_hub.h"

namespace talvor::test {

struct ReaderFixture : ::testing::Test {
    unit_group group;
    CHubDevice* unit = nullptr;
    fake_hub* hub = nullptr;

    void SetUp() override
    {
        unit = group.add_unit(make_unit_address(ipv4_mapped(192, 168, 1, 20)));
        auto h = std::make_unique<fake_hub>();
        hub = h.get();
        unit->hub = std::move(h);
    }

    static json_ptr parsed(const std::string& text)
    {
        json_ptr p = json_parser::from(text);
        EXPECT_NE(p, nullptr) << text;
        return p;
    }
    void gen_conf(const std::string& text)
    {
        if (auto p = parsed(text))
            read_gen_conf(*unit, *p);
    }
    int tap_details(const std::string& text)
    {
        auto p = parsed(text);
        return p ? read_tap_details(*unit, *p) : -2;
    }
    int config_cats(const std::string& text)
    {
        auto p = parsed(text);
        return p ? read_config_cats(*unit, *p) : -2;
    }
};

} // namespace talvor::test
