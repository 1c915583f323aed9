// The batch log read back for the window's history: batches told apart by
// their key or, in older logs, by their command and times; and whatever
// in the file cannot be read left out.
#include <gtest/gtest.h>

#include <string>

#include "operations/batch_history.h"

namespace talvor::test {
namespace {

std::string line(const std::string& start, const std::string& end, const std::string& command,
                 const std::string& address, const std::string& result, const std::string& extra = {})
{
    return "{\"start\": \"" + start + "\", \"end\": \"" + end + "\", \"command\": \"" + command +
           "\", \"address\": \"" + address + "\", \"serial\": \"S\", \"label\": \"S [" + address +
           "]\", \"file\": null, \"sha256\": null, \"result\": \"" + result + "\", \"reason\": null" + extra + "}\n";
}

TEST(batch_history_test, lines_group_into_batches_and_what_cannot_be_read_is_left_out)
{
    const std::string t0 = "2024-05-01T10:00:00.000Z", t1 = "2024-05-01T10:00:05.000Z",
                      t2 = "2024-05-01T10:00:09.000Z", t3 = "2024-05-01T10:01:00.000Z";
    const std::string log =
        // Without a key: paced units start as others end, so all three belong together...
        line(t0, t1, "Restart Devices", "127.0.0.1", "ok") + line(t0, t2, "Restart Devices", "127.0.0.2", "failed") +
        line(t1, t2, "Restart Devices", "127.0.0.3", "cancelled") +
        // ...and a retry, started once they all had ended, is a batch of its own.
        line(t3, t3, "Restart Devices", "127.0.0.2", "ok") +
        "not json at all\n{\"start\": \"" + t3 + "\"}\n[1, 2]\n" +
        // With a key: the key decides, and keys unknown here are ignored.
        line(t3, t3, "Update Firmware", "127.0.0.1", "ok", ", \"batch\": \"b1\", \"new_key\": [1, {\"x\": 2}]") +
        line(t3, t3, "Update Firmware", "127.0.0.2", "ok", ", \"batch\": \"b2\"") +
        // Escapes are decoded; a line cut short by the end of the file is dropped.
        "{\"command\": \"Upload \\\"A\\\" \\u00e9\\ud83d\\ude00\", \"result\": \"ok\", \"reason\": 5}\n" +
        "{\"start\": \"" + t3 + "\", \"command\": \"Erase";

    const std::vector<history_batch> batches = parse_batch_history(log);
    const struct {
        const char* command;
        std::size_t units;
        int ok, failed;
    } expected[] = {
        {"Restart Devices", 3, 1, 2}, {"Restart Devices", 1, 1, 0}, {"Update Firmware", 1, 1, 0},
        {"Update Firmware", 1, 1, 0}, {"Upload \"A\" \u00e9\U0001F600", 1, 1, 0},
    };
    ASSERT_EQ(batches.size(), std::size(expected));
    for (std::size_t i = 0; i < batches.size(); ++i) {
        EXPECT_EQ(batches[i].command, expected[i].command) << i;
        EXPECT_EQ(batches[i].units.size(), expected[i].units) << i;
        EXPECT_EQ(batches[i].ok, expected[i].ok) << i;
        EXPECT_EQ(batches[i].failed, expected[i].failed) << i;
    }
    EXPECT_EQ(batches[0].start, t0);
    EXPECT_EQ(batches[0].units[2].result, "cancelled");
    EXPECT_EQ(batches[2].id, "b1");
    EXPECT_EQ(batches[4].units[0].reason, "") << "a number where a text belongs reads as none";
    EXPECT_EQ(history_time_text(t0), "2024-05-01 10:00:00 UTC");
    EXPECT_EQ(history_time_text("yesterday"), "yesterday");
}

} // namespace
} // namespace talvor::test
