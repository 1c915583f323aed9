#pragma once
// The batch log read back: the past batches with each unit's result, for
// the window's "Batch History ...". The log is a plain file the user may
// have cut or edited, so every line is checked and what cannot be read is
// left out.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace talvor {

// One unit's line. Texts as logged (times in UTC); empty where the line
// had null or no such key.
struct history_unit {
    std::string start, end, address, serial, label, file, result, reason, version_before, version_after;
};

struct history_batch {
    std::string id;      // the line's "batch" key when it has one
    std::string command; // "Update Firmware"
    std::string start;   // the earliest start of its units
    std::vector<history_unit> units;
    int ok = 0;          // units whose result is "ok"
    int failed = 0;      // every other unit
};

// The batches of one log file's text, in the order written. Lines of one
// batch carry the same "batch" key; lines without one belong together while
// their command is the same and each started before the batch so far had
// ended (a retry starts only after its batch has ended). Lines that are not
// a JSON object with a "command" are skipped; unknown keys are ignored.
std::vector<history_batch> parse_batch_history(std::string_view text);

// The newest `limit` batches of the log folder, oldest first. A day's file
// beyond 16 MiB is read from its last 16 MiB.
std::vector<history_batch> read_batch_history(const std::filesystem::path& folder, std::size_t limit = 1000);

// "2024-05-01 12:03:04 UTC" for a logged "2024-05-01T12:03:04.123Z"; other
// texts as they are.
std::string history_time_text(const std::string& logged);

} // namespace talvor
