// The CT type table reader and the JSON text the units receive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "operations/ct_table.h"

namespace talvor {
namespace {

std::string rows_text(const std::vector<ct_type_row>& rows)
{
    std::string s;
    for (const auto& r : rows)
        s += r.name + ":" + std::to_string(r.factor1) + ":" + std::to_string(r.factor2) + ":" +
             std::to_string(r.phcal1) + ":" + std::to_string(r.phcal2) + ";";
    return s;
}

TEST(ct_table, csv_cases)
{
    struct {
        const char* what;
        std::string input;
        int result;       // 0 or the failing line
        const char* rows; // when result is 0
    } cases[] = {
        {"empty file", "", 0, ""},
        {"byte order mark", "\xEF\xBB\xBF" "a,1,2,3,4\n", 0, "a:1:2:3:4;"},
        {"last line without break", "a,1,2,3,4\nb,5,6,7,8", 0, "a:1:2:3:4;b:5:6:7:8;"},
        {"CR LF one break", "a,1,2,3,4\r\nb,5,6,7\r\n", 2, nullptr},
        {"LF CR one break", "a,1,2,3,4\n\rb,5,6,7\n\r", 2, nullptr},
        {"1.0 is 1, spaces around", "a, 1.0 ,2,3e1,4294967295\n", 0, "a:1:2:30:4294967295;"},
        {"1.5", "a,1.5,2,3,4\n", 1, nullptr},
        {"-1", "a,1,-1,3,4\n", 1, nullptr},
        {"1e", "a,1,2,1e,4\n", 1, nullptr},
        {"1 x", "a,1,2,3,1 x\n", 1, nullptr},
        {"too large", "a,1,2,3,4294967296\n", 1, nullptr},
        {"four fields", "a,1,2,3,4\nb,1,2,3\n", 2, nullptr},
        {"six fields", "a,1,2,3,4\nb,1,2,3,4,5\n", 2, nullptr},
        {"quoted name", "\"a\"\"b\",1,2,3,4\n", 0, "a?b:1:2:3:4;"},
        {"blanks around quotes", " \t\"x,y\"  ,1,2,3,4\n", 0, "x,y:1:2:3:4;"},
        {"markup in name", "<a&b>,1,2,3,4\n", 0, "?a?b?:1:2:3:4;"},
        {"text before quote", "x\"a\",1,2,3,4\n", 1, nullptr},
        {"text after quote", "\"a\"x,1,2,3,4\n", 1, nullptr},
        {"unclosed quote", "a,1,2,3,4\n\"b,1,2,3,4\n", 2, nullptr},
        {"trailing comma at the end", "a,1,2,3,4\nb,1,2,3,", 2, nullptr},
        {"trailing comma after five", "a,1,2,3,4\nb,1,2,3,4,", 2, nullptr},
    };
    for (const auto& c : cases) {
        std::vector<ct_type_row> rows;
        EXPECT_EQ(load_ct_table(c.input, rows), c.result) << c.what;
        if (c.result == 0) {
            EXPECT_EQ(rows_text(rows), c.rows) << c.what;
        }
    }
    EXPECT_EQ(ct_parse_failure_text(12), "Parsing failed at line 12");
}

TEST(ct_table, json_text)
{
    EXPECT_EQ(ct_types_json({}), R"({ "CTs_update": [ ] })");
    EXPECT_EQ(ct_types_json({{"X", 1, 2, 3, 4}, {"a?b", 10, 0, 4294967295u, 7}}),
              R"({ "CTs_update": [ { "name": "X", "factor": [ 1, 2 ], "PHCAL": [ 3, 4 ] },)"
              R"( { "name": "a?b", "factor": [ 10, 0 ], "PHCAL": [ 4294967295, 7 ] } ] })");
}

} // namespace
} // namespace talvor
