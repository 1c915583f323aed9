#pragma once
// Every request the units receive, in memory and as JSON lines on disk.
#include "simulator/hubsim.h"
#include "simulator/unit.h"

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <vector>

namespace talvor::sim {

class request_log {
public:
    explicit request_log(const std::filesystem::path& file);
    ~request_log();
    request_log(const request_log&) = delete;
    request_log& operator=(const request_log&) = delete;

    void add(request_entry entry);
    std::vector<request_entry> all() const;
    std::vector<request_entry> of(std::string_view unit) const;
    void clear();
    const std::filesystem::path& path() const { return path_; }

    static std::int64_t now_ms();
    // The JSON line written for an entry (no trailing line feed).
    static std::string to_json_line(const request_entry& e);

private:
    std::filesystem::path path_;
    std::FILE* file_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<request_entry> entries_;
};

std::string base64(std::string_view bytes);

// Puts a firmware file's summary on its entry; without keep_uploads the
// entry's body (which holds the file) is dropped.
void note_upload(request_entry& e, const upload_summary& upload, const unit& u);

} // namespace talvor::sim
