#include "transport/json_parser.h"

#include "tests/foundation/jsmn_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <pthread.h>
#include <string>

using talvor::json_parser;
using talvor::json_type;

namespace {

json_parser parsed(std::string text)
{
    json_parser p;
    p.text = std::move(text);
    EXPECT_EQ(p.parse(), 0) << p.text;
    return p;
}

double number_of(const std::string& value)
{
    auto p = parsed("{\"v\": " + value + "}");
    return p.get_number(p.find(json_parser::root, "v"));
}

void on_small_stack(std::function<void()> f)
{
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 128 * 1024);
    pthread_t t;
    auto body = [](void* arg) -> void* {
        (*static_cast<std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&t, &attr, body, &f), 0);
    pthread_join(t, nullptr);
    pthread_attr_destroy(&attr);
}

} // namespace

TEST(JsonParser, RejectsWhatIsNotJson)
{
    EXPECT_EQ(json_parser::from(""), nullptr);
    EXPECT_EQ(json_parser::from("{\"a\": \"unterminated"), nullptr);
    EXPECT_EQ(json_parser::from("{\"a\": 1"), nullptr);
    EXPECT_NE(json_parser::from("{}"), nullptr);
}

TEST(JsonParser, GrowsPastTheFirstTokenArrayAndEndsExact)
{
    // 3 tokens per member plus the root object: well past two doublings.
    std::string text = "{";
    const int members = 10000;
    for (int i = 0; i < members; ++i)
        text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":[" + std::to_string(i) + "]";
    text += "}";
    auto p = parsed(text);
    EXPECT_EQ(p.tokens.size(), 1u + 3u * members);
    auto last = p.find(json_parser::root, "K9999");
    ASSERT_NE(last, p.end());
    EXPECT_EQ(p.get_number(last + 1), 9999.0);
}

TEST(JsonParser, FindComparesKeysCaseInsensitivelyAndToTheirLength)
{
    auto p = parsed(R"({"status": 1, "Stat": 2, "statusx": 3})");
    EXPECT_EQ(p.get_number(p.find(0, "STATUS")), 1.0);
    EXPECT_EQ(p.get_number(p.find(0, "stat")), 2.0);
    EXPECT_EQ(p.find(0, "statu"), p.end());
    EXPECT_EQ(p.find(0, "statusxy"), p.end());
    // Not an object: nothing to find.
    auto a = parsed("[1,2]");
    EXPECT_EQ(a.find(0, "status"), a.end());
}

TEST(JsonParser, FindSkipsNestedValuesAndStopsAtABareWordKey)
{
    auto p = parsed(R"({"a": {"status": 9, "x": [1, {"y": 2}]}, "status": 4})");
    EXPECT_EQ(p.get_number(p.find(0, "status")), 4.0);

    // Non-strict jsmn accepts a bare-word key; the search stops there.
    auto bare = parsed(R"({"a": 1, b: 2, "c": 3})");
    EXPECT_EQ(bare.get_number(bare.find(0, "a")), 1.0);
    EXPECT_EQ(bare.find(0, "b"), bare.end());
    EXPECT_EQ(bare.find(0, "c"), bare.end());
    EXPECT_EQ(bare.for_each_member(0, [](const json_parser&, const std::string&, std::size_t&) { return 0; }), -1);
}

TEST(JsonParser, SkipPassesWholeValuesEvenWhenDeeplyNested)
{
    auto p = parsed(R"([[1, [2, 3]], {"k": {"m": [4]}}, 5])");
    std::size_t first = 1;
    std::size_t second = p.skip(first);
    EXPECT_TRUE(p.is(second, json_type::object));
    std::size_t third = p.skip(second);
    EXPECT_EQ(p.get_number(third), 5.0);
    EXPECT_EQ(p.skip(third), p.end());
    EXPECT_EQ(p.skip(p.end()), p.end());

    // Walked on a thread with a 128 KiB stack: a walk that recursed once per
    // level would overflow it long before 30000 levels.
    const int depth = 30000;
    std::string deep(depth, '[');
    deep += std::string(depth, ']');
    auto d = parsed("{\"deep\": " + deep + ", \"after\": 7}");
    double after = 0;
    on_small_stack([&] { after = d.get_number(d.find(0, "after")); });
    EXPECT_EQ(after, 7.0);
}

TEST(JsonParser, ForEachMemberVisitsInOrderAndStopsOnNonZero)
{
    auto p = parsed(R"({"a": [1, 2], "B": {"c": 3}, "d": "x"})");
    std::string keys;
    EXPECT_EQ(p.for_each_member(0,
                                [&](const json_parser&, const std::string& key, std::size_t&) {
                                    keys += key + ";";
                                    return 0;
                                }),
              0);
    EXPECT_EQ(keys, "a;B;d;");
    EXPECT_EQ(p.for_each_member(0, [](const json_parser&, const std::string& key, std::size_t&) {
        return key == "B" ? 42 : 0;
    }),
              42);
    EXPECT_EQ(p.for_each_member(1, [](const json_parser&, const std::string&, std::size_t&) { return 0; }), -1);
}

TEST(JsonParser, StringsAreRawAndKeysAreNotValues)
{
    auto p = parsed(R"({"s": "a\n\"b\\c\u0041", "k": "v"})");
    EXPECT_EQ(p.get_string(p.find(0, "s")), R"(a\n\"b\\c\u0041)");
    const std::size_t key = 1;
    EXPECT_EQ(p.get_string(key), "");
    EXPECT_EQ(p.get_string(key, 1), "s");
    EXPECT_EQ(p.get_string(p.find(0, "missing")), "");
}

TEST(JsonParser, NumbersFromPrimitivesOnly)
{
    EXPECT_EQ(number_of("1e3"), 1000.0);
    EXPECT_EQ(number_of("-12.5"), -12.5);
    EXPECT_EQ(number_of("true"), 1.0);
    EXPECT_EQ(number_of("TRUE"), 1.0);
    EXPECT_EQ(number_of("false"), 0.0);
    EXPECT_EQ(number_of("null"), 0.0);
    EXPECT_TRUE(std::isnan(number_of("12abc")));
    EXPECT_TRUE(std::isnan(number_of("\"true\"")));
    EXPECT_TRUE(std::isnan(number_of("[1]")));
    auto p = parsed(R"({"v": 1})");
    EXPECT_TRUE(std::isnan(p.get_number(p.end())));
    // A quoted number is a string, not a number.
    EXPECT_TRUE(std::isnan(number_of("\"5\"")));
}

TEST(JsonParser, StopsAtANulByte)
{
    std::string text = "{\"a\": 1}";
    text.push_back('\0');
    text += "garbage{";
    auto p = parsed(text);
    EXPECT_EQ(p.get_number(p.find(0, "a")), 1.0);
    EXPECT_EQ(p.text.size(), text.size()); // kept exactly as received
}

TEST(JsonParser, TokensAgreeWithJsmnOnOddTexts)
{
    std::string with_nul = "[1, \"a\"]";
    with_nul.push_back('\0');
    with_nul += "]]";
    const std::vector<std::string> texts = {
        R"({"a": [1, {"b": "c"}], "d": true, "e": {}})",
        R"([{"a":1},{"a":2}, [], [[]]])",
        R"({"x":[1,2],"y":3, "z": {"w": [4]}, "v": 5})",
        R"([[1]:2, 3])",
        R"({"a" "b", c})",
        R"({a:1,b:[2,3],})",
        R"({"a":1,:2})",
        R"("a":"b":"c")",
        R"("x", [1])",
        "1 2 3",
        ": , :,",
        R"(["a\"]", "\u00Af", "\/"])",
        "{\"k\": x\tq}",
        with_nul,
        // Refused.
        R"({"a":1}})",
        "[}",
        R"({"a": "\u00zz"})",
        R"({"a": "\q"})",
        "[1, 2",
        R"("abc)",
        "{\"k\": x\x01}",
        "[\xc3\xa9]",
        "]",
        "   ",
    };
    for (const auto& text : texts) {
        json_parser p;
        p.text = text;
        const int r = p.parse();
        const auto expected = talvor::testing::jsmn_tokens(text);
        EXPECT_EQ(r, expected.empty() ? -1 : 0) << text;
        EXPECT_TRUE(talvor::testing::same_tokens(p.tokens, expected)) << text;
    }
}

TEST(JsonParser, ReadsHostileShapesInOnePass)
{
    // Each took the old reader hours at this size: it scanned back over the
    // earlier tokens at every bracket or comma. The test's time-out is the bound.
    const std::size_t n = 1 << 20;
    std::string deep = std::string(n, '[') + std::string(n, ']');
    std::string wide = "[";
    std::string members = "{";
    for (std::size_t i = 0; i < n; ++i) {
        wide += i ? ",[]" : "[]";
        members += i ? ",\"k\":0" : "\"k\":0";
    }
    wide += "]";
    members += "}";
    const struct {
        const std::string& text;
        std::size_t tokens;
        int root_size;
    } shapes[] = {{deep, n, 1}, {wide, n + 1, static_cast<int>(n)}, {members, 2 * n + 1, static_cast<int>(n)}};
    for (const auto& s : shapes) {
        json_parser p;
        p.text = s.text;
        ASSERT_EQ(p.parse(), 0);
        EXPECT_EQ(p.tokens.size(), s.tokens);
        EXPECT_EQ(p.tokens[0].size, s.root_size);
        EXPECT_EQ(p.tokens[0].end, static_cast<int>(s.text.size()));
        EXPECT_EQ(p.skip(json_parser::root), p.end());
    }
}
