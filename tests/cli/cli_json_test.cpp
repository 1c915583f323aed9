#include "transport/json_writer.h"
#include "transport/json_parser.h"

#include <gtest/gtest.h>

using namespace talvor;

TEST(CliJson, QuotesEveryAwkwardByte)
{
    EXPECT_EQ(json_quote("plain"), "\"plain\"");
    EXPECT_EQ(json_quote("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(json_quote(std::string("n\nt\t\x01", 5)), R"("n\u000at\u0009\u0001")");
    EXPECT_EQ(json_quote("\xC3\xA9"), "\"\xC3\xA9\"");
    EXPECT_EQ(json_quote("\xFF"), "\"\xEF\xBF\xBD\"");   // not UTF-8: replacement character
    EXPECT_EQ(json_quote("\xC3"), "\"\xEF\xBF\xBD\"");   // cut sequence
}

TEST(CliJson, WriterOutputParses)
{
    json_writer w;
    w.begin_object();
    w.key("units");
    w.begin_array();
    w.begin_object();
    w.key("label"), w.value("Riser \"A\" \\ north");
    w.key("n"), w.value(42);
    w.key("none"), w.null();
    w.key("rows"), w.begin_array(), w.begin_array(), w.value("x"), w.value("y"), w.end_array(), w.end_array();
    w.end_object();
    w.begin_object();
    w.end_object();
    w.end_array();
    w.end_object();
    auto p = json_parser::from(w.text());
    ASSERT_NE(p, nullptr) << w.text();
    auto units = p->find(json_parser::root, "units");
    ASSERT_TRUE(p->is(units, json_type::array));
    EXPECT_EQ(p->tokens[units].size, 2);
    auto label = p->find(units + 1, "label");
    EXPECT_EQ(p->get_string(label), R"(Riser \"A\" \\ north)");
    EXPECT_EQ(p->get_number(p->find(units + 1, "n")), 42.0);
}
