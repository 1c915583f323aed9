#pragma once
// Passwords given without a terminal: lines of standard input, and a
// credentials file naming units by address. No copy is left
// behind in freed memory; none ever goes into arguments or output.
#include <optional>
#include <string>
#include <vector>

#include "transport/conn_sess.h"

namespace talvor::cli {

// Reads `count` lines of standard input (LF or CR LF), unbuffered, into
// `lines`; the reason when fewer came, else empty.
std::string read_stdin_lines(std::size_t count, std::vector<std::string>& lines);

// The passwords of single units.
class credentials {
public:
    ~credentials();
    // Loads the file: lines "ADDRESS PASSWORD" (the password is
    // the rest of the line after the blanks that follow the key), blank
    // lines and '#' comments. The file must be its owner's alone. The
    // problem ("creds.txt: line 3 has no password"), or empty.
    std::string load(const std::string& path);
    // The password of the unit at `address` (its text), or nullptr.
    const std::string* find(const std::string& address) const;

private:
    std::vector<std::pair<ip_address, std::string>> by_address_;
};

// Why `path` may not hold secrets: readable or writable by others than its
// owner ("readable by others (mode 0644): make it 0600"); empty when fit.
// Windows keeps no such bits: there it is always fit.
std::string private_file_problem(const std::string& path);

} // namespace talvor::cli
