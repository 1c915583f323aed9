#pragma once
// Configuration files (.cfg): what upload reads from one, the names
// download gives them, and writing them so that an earlier file survives
// any failure.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "transport/conn_sess.h"
#include "transport/mac_text.h"

namespace talvor {

// The members of a configuration file that upload looks at.
struct config_file_info {
    int version = 0;             // top-level "version"; never 0 here
    std::int64_t sd_state = 0;   // "glob_conf" / "sd_state"
    bool filtering_active = false; // "filtering" / "active" nonzero
    bool has_log_conf = false;   // top-level "log_conf" present
    std::string name;            // "glob_conf" / "name": the unit the file was taken from; may be empty
};

// Nothing when the text is not a JSON object or its "version" is 0,
// missing or not a number.
std::optional<config_file_info> read_config_file_info(const byte_vector& bytes);

// How a unit is named to the user: its serial, else its MAC text.
std::string config_unit_name(const std::string& serial, const mac_address& mac);
// The same name made safe as a file name inside a folder: separators,
// ':' and the other characters Windows or Linux file names cannot hold
// become '_'; a name left empty, "." or ".." is the MAC text with '_' for
// its colons. The unit supplies the serial, so it must never leave the
// folder.
std::string config_file_stem(const std::string& serial, const mac_address& mac);

// Writes `bytes` to `path` through a temporary file in the same folder that
// replaces `path` only once complete. On failure `path` is as it was, no
// temporary file is left, and `reason` says why. 0 or -1.
int replace_file_safely(const std::filesystem::path& path, const byte_vector& bytes, std::string& reason);
// Writes `bytes` into `folder` under the first free one of stem.CFG,
// stem(1).CFG ... stem(9).CFG, never replacing a file. The path written, or
// nothing (all ten names taken, or the write failed: `reason`).
std::optional<std::filesystem::path> write_new_config_file(const std::filesystem::path& folder,
                                                           const std::string& stem, const byte_vector& bytes,
                                                           std::string& reason);
// The name write_new_config_file would take now: the first of those ten
// that does not exist; nothing when all of them do.
std::optional<std::filesystem::path> free_config_file_name(const std::filesystem::path& folder,
                                                           const std::string& stem);

} // namespace talvor
