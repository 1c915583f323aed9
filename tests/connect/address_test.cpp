// Adding units by address: the Add Device box and address list files.
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "inventory/address_entry.h"
#include "inventory/address_list.h"
#include "tests/connect/connect_fixture.h"

namespace talvor::test {
namespace {

std::span<const std::uint8_t> bytes_of(const std::string& s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(address_text_test, box_and_item_rules)
{
    bool empty = false;
    EXPECT_EQ(parse_address_box("  192.168.1.20\t", empty), v4("192.168.1.20"));
    EXPECT_FALSE(empty);
    auto six = parse_address_box("fe80::1", empty);
    ASSERT_TRUE(six);
    EXPECT_EQ((*six)[0], 0xfe);
    EXPECT_EQ((*six)[15], 1);
    EXPECT_EQ(parse_address_box("::ffff:10.0.0.1", empty), std::nullopt);
    EXPECT_FALSE(empty);
    EXPECT_EQ(parse_address_box(" \r\n ", empty), std::nullopt);
    EXPECT_TRUE(empty);
    EXPECT_EQ(parse_address_item("10.0.0.x"), std::nullopt);
    EXPECT_EQ(parse_address_item(std::string("10.0.0.1\0junk", 13)), std::nullopt);
}

TEST(address_text_test, list_parsing_counts_lines_and_comments)
{
    auto r = parse_address_list(bytes_of("10.0.0.1 10.0.0.2 # a comment 10.0.0.x\n\n10.0.0.x\n"));
    EXPECT_EQ(r.error_line, 3);
    EXPECT_TRUE(r.addresses.empty());

    r = parse_address_list(bytes_of("# head\r\n10.0.0.1\r\n\r\n\r\nbad#item\r\n"));
    EXPECT_EQ(r.error_line, 5);

    r = parse_address_list(bytes_of("#only\r\n  \t\f\v\r\n#comment 1.2.3.x"));
    EXPECT_EQ(r.error_line, 0);
    EXPECT_TRUE(r.addresses.empty());

    r = parse_address_list(bytes_of("fe80::2\t10.0.0.3#x"));
    EXPECT_EQ(r.error_line, 1); // "10.0.0.3#x": a '#' inside an item is part of it
    r = parse_address_list(bytes_of("fe80::2\t10.0.0.3 #x\n::1"));
    EXPECT_EQ(r.error_line, 0);
    ASSERT_EQ(r.addresses.size(), 3u);
    EXPECT_EQ(r.addresses[1], v4("10.0.0.3"));

    EXPECT_EQ(address_list_heading("/tmp/some dir/units.txt"), "Address List \"units.txt\"");
}

class address_list_test : public connect_fixture {
protected:
    std::filesystem::path file(const std::string& name, const std::string& text)
    {
        auto dir = std::filesystem::temp_directory_path() / ("talvor-lists-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        auto p = dir / name;
        std::ofstream(p, std::ios::binary) << text;
        made.push_back(p);
        return p;
    }
    void TearDown() override
    {
        connect_fixture::TearDown();
        for (auto& p : made)
            std::filesystem::remove(p);
    }
    std::vector<std::filesystem::path> made;
};

TEST_F(address_list_test, a_bad_item_on_line_3_adds_nothing_and_names_line_3)
{
    const auto p = file("bad.txt", "127.7.20.1 127.7.20.2 # two units\n\n10.0.0.x\n");
    EXPECT_EQ(manager->load_address_list(p), -1);
    EXPECT_EQ(listed(), 0u);
    ASSERT_EQ(ui.tasks.size(), 1u);
    EXPECT_EQ(ui.tasks[0].title, "Add Multiple Devices");
    EXPECT_EQ(ui.tasks[0].main_instruction, "Address List \"bad.txt\"");
    EXPECT_EQ(ui.tasks[0].content, "File format is invalid, error at line 3 !");
    EXPECT_EQ(ui.tasks[0].buttons, button_ok);
    EXPECT_EQ(ui.tasks[0].main_icon, dialog_icon::error);
}

TEST_F(address_list_test, windows_line_ends_count_once)
{
    const auto p = file("crlf.txt", "127.7.21.1\r\n#c\r\n\r\n127.7.21.2 oops\r\n");
    EXPECT_EQ(manager->load_address_list(p), -1);
    ASSERT_EQ(ui.tasks.size(), 1u);
    EXPECT_EQ(ui.tasks[0].content, "File format is invalid, error at line 4 !");
}

TEST_F(address_list_test, a_list_adds_every_new_address_and_resets_the_security_answer_once)
{
    settings.tls_checks = 0;
    for (const char* a : {"127.7.22.1", "127.7.22.2"})
        fake(a);
    manager->group().prompt.security_answer = 1;
    const auto p = file("ok.txt", "127.7.22.1\n127.7.22.2 127.7.22.1\n");
    ui.passwords = {"secret", "secret"}; // one prompt, or two when the refreshes do not overlap
    EXPECT_EQ(manager->load_address_list(p), 0);
    EXPECT_EQ(manager->group().prompt.security_answer.load(), -1);
    EXPECT_EQ(listed(), 2u);
    ASSERT_TRUE(settle());
    EXPECT_EQ(listener.ready.size(), 2u);
    EXPECT_TRUE(listener.removed.empty());

    // A missing file and the Add Multiple picker.
    EXPECT_EQ(manager->load_address_list(p.parent_path() / "missing.txt"), -1);
    EXPECT_EQ(ui.tasks.back().content, "Failed to load file !\n\n" + (p.parent_path() / "missing.txt").string() + ": not found");
    EXPECT_EQ(ui.tasks.back().main_instruction, "Address List \"missing.txt\"");
    EXPECT_FALSE(manager->add_multiple());
    ASSERT_EQ(ui.file_prompts.size(), 1u);
    EXPECT_EQ(ui.file_prompts[0].title, "Select Network Address File");
    EXPECT_EQ(ui.file_prompts[0].filter, "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||");
}

TEST_F(address_list_test, the_address_box)
{
    EXPECT_EQ(manager->add_device("   "), add_result::empty);
    EXPECT_EQ(manager->add_device("::ffff:10.0.0.1"), add_result::invalid);
    ASSERT_EQ(ui.tasks.size(), 1u);
    EXPECT_EQ(ui.tasks[0].title, "Add Device");
    EXPECT_EQ(ui.tasks[0].main_instruction, "IP address is invalid");
    EXPECT_EQ(ui.tasks[0].content, "");
    EXPECT_EQ(listed(), 0u);

    EXPECT_EQ(manager->add_device(" 127.7.23.1 "), add_result::added);
    EXPECT_EQ(manager->add_device("127.7.23.1"), add_result::duplicate);
    ASSERT_EQ(listed(), 1u);
    EXPECT_EQ(manager->group().units()[0]->label, "127.7.23.1");
    EXPECT_EQ(manager->group().units()[0]->mac, unknown_mac);
    EXPECT_EQ(ui.tasks.size(), 1u);
    ASSERT_TRUE(settle()); // no fake: removed as having no client
    EXPECT_EQ(listed(), 0u);
}

} // namespace
} // namespace talvor::test
