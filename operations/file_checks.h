#pragma once
// The user's files are checked before anything is sent: the file a command
// sends (read whole, not empty, of its kind), and the places its results
// are to be written. A fault found after the first unit was contacted
// would leave a batch half done.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "inventory/dialogs.h"
#include "transport/conn_sess.h"

namespace talvor {

enum class input_kind { firmware, configuration, ct_table, customisation, certificate, private_key, address_list };

// Why the bytes cannot be sent (or read) as `kind`: "empty", "not a PEM or
// DER X.509 certificate", "holds no CT types", ...; empty when they can.
std::string input_content_problem(std::span<const std::uint8_t> bytes, input_kind kind);
// Reads `path` whole into `bytes` and checks its content: why it cannot be
// used ("not found", "larger than 16 MiB", ... or the content's problem),
// or empty.
std::string input_file_problem(const std::filesystem::path& path, input_kind kind, byte_vector& bytes);

// "site.cfg: empty": the file as the user named it, and why.
std::string file_problem_text(const std::filesystem::path& path, const std::string& reason);

// Reads the file a command sends, whole and not empty. A refusal is
// reported here, as an error with the command's title and heading:
// `content` (the command's own "Failed to load file !") and the file's
// name with the reason. False when refused.
bool load_input_file(dialogs& ui, const std::string& title, const std::string& heading,
                     const std::filesystem::path& path, const std::string& content, byte_vector& bytes);
// The same report for a file that was read but whose content is refused.
void report_input_refused(dialogs& ui, const std::string& title, const std::string& heading,
                          const std::string& content, const std::filesystem::path& path, const std::string& reason);

// Why no file can be written at `path` (a folder, its folder missing or
// not writable); empty when one can. Nothing is left behind by the check,
// and an existing file is not changed.
std::string output_file_problem(const std::filesystem::path& path);
// Why files cannot be written into `folder`; empty when they can.
std::string output_folder_problem(const std::filesystem::path& folder);

} // namespace talvor
