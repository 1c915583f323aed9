#pragma once
// Writing files so that no reader ever sees half of one: a temporary file
// beside the final place, on disk in full, then moved there in one step.
#include <cstdint>
#include <filesystem>
#include <string>

#include "transport/conn_sess.h"

namespace talvor {

// ".STEM.XXXXXXXX.tmp" in `folder`, created with the mode a new file gets
// (mkstemp's 0600 would leave a saved configuration readable by its owner
// only); removed again unless released.
class temp_file {
public:
    temp_file(const std::filesystem::path& folder, const std::string& stem);
    ~temp_file();
    temp_file(const temp_file&) = delete;
    temp_file& operator=(const temp_file&) = delete;

    bool ok() const { return handle_ != -1; }
    const std::filesystem::path& path() const { return path_; }
    void released() { path_.clear(); }
    // Why the file could not be created.
    const std::string& error() const { return error_; }

    // Every byte written and on disk, and the file closed; false with
    // `reason` otherwise.
    bool write_all(const byte_vector& bytes, std::string& reason);

private:
    std::intptr_t handle_ = -1;
    std::filesystem::path path_;
    std::string error_;
};

// Puts the written `from` in the place of `to`, whether or not `to`
// exists; false with `reason`.
bool move_replacing(temp_file& from, const std::filesystem::path& to, std::string& reason);

// Puts the written `from` at `to` only if no file is there: 1 when placed,
// 0 when the name is taken, -1 with `reason` when it failed.
int move_if_free(temp_file& from, const std::filesystem::path& to, std::string& reason);

// Adds `text` at the end of `file` in one write, so that lines that other
// processes append at the same time do not interleave with it. 0 or -1.
int append_whole(const std::filesystem::path& file, const std::string& text);

} // namespace talvor
