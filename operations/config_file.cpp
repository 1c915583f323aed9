#include "operations/config_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string_view>

#include "inventory/reply_values.h"
#include "transport/json_parser.h"

namespace talvor {

namespace fs = std::filesystem;

namespace {

std::size_t member(const json_parser& p, std::string_view object, std::string_view key)
{
    const std::size_t o = p.find(json_parser::root, object);
    return o == p.end() ? o : p.find(o, key);
}

std::string system_error(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// A temporary file beside its final place, removed unless released.
class temp_file {
public:
    // Created with the mode a new file gets (mkstemp's 0600 would leave
    // the saved configuration readable by its owner only).
    temp_file(const fs::path& folder, const std::string& stem)
    {
        static const char hex[] = "0123456789abcdef";
        std::random_device random;
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            std::string tag;
            for (unsigned v = random(), i = 0; i < 8; ++i, v >>= 4)
                tag += hex[v & 15];
            const std::string name = (folder / ("." + stem + "." + tag + ".tmp")).string();
            fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ >= 0)
                path_ = name;
            else if (errno != EEXIST)
                break;
        }
    }
    ~temp_file()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    temp_file(const temp_file&) = delete;
    temp_file& operator=(const temp_file&) = delete;

    bool ok() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    void released() { path_.clear(); }

    // Every byte written and on disk; false with `reason` otherwise.
    bool write_all(const byte_vector& bytes, std::string& reason)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                reason = n < 0 ? system_error("write failed") : "write failed: short write";
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        const int fd = fd_;
        fd_ = -1;
        if (::fsync(fd) != 0) {
            reason = system_error("write failed");
            ::close(fd);
            return false;
        }
        if (::close(fd) != 0) {
            reason = system_error("write failed");
            return false;
        }
        return true;
    }

private:
    int fd_ = -1;
    std::string path_;
};

bool written_temp(temp_file& tmp, const byte_vector& bytes, std::string& reason)
{
    if (!tmp.ok()) {
        reason = system_error("cannot create file");
        return false;
    }
    return tmp.write_all(bytes, reason);
}

} // namespace

std::optional<config_file_info> read_config_file_info(const byte_vector& bytes)
{
    auto p = json_parser::from(std::string(bytes.begin(), bytes.end()));
    if (!p || !p->is(json_parser::root, json_type::object))
        return std::nullopt;
    config_file_info info;
    info.version = reply_number<int>(*p, p->find(json_parser::root, "version")).value_or(0);
    if (info.version == 0)
        return std::nullopt;
    info.sd_state = reply_number<std::int64_t>(*p, member(*p, "glob_conf", "sd_state")).value_or(0);
    const double active = p->get_number(member(*p, "filtering", "active")); // NaN when missing
    info.filtering_active = !std::isnan(active) && active != 0.0;
    info.has_log_conf = p->find(json_parser::root, "log_conf") != p->end();
    return info;
}

std::string config_unit_name(const std::string& serial, const mac_address& mac)
{
    return serial.empty() ? mac_text(mac) : serial;
}

std::string config_file_stem(const std::string& serial, const mac_address& mac)
{
    auto safe = [](std::string s) {
        for (char& c : s) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 0x20 || b == 0x7f || std::strchr("/\\:*?\"<>|", c))
                c = '_';
        }
        return s;
    };
    std::string stem = safe(serial);
    if (stem.empty() || stem == "." || stem == "..")
        stem = safe(mac_text(mac));
    return stem;
}

int replace_file_safely(const fs::path& path, const byte_vector& bytes, std::string& reason)
{
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    temp_file tmp(folder, path.filename().string());
    if (!written_temp(tmp, bytes, reason))
        return -1;
    if (std::rename(tmp.path().c_str(), path.c_str()) != 0) {
        reason = system_error("cannot replace file");
        return -1;
    }
    tmp.released();
    return 0;
}

std::optional<fs::path> write_new_config_file(const fs::path& folder, const std::string& stem,
                                              const byte_vector& bytes, std::string& reason)
{
    temp_file tmp(folder, stem);
    if (!written_temp(tmp, bytes, reason))
        return std::nullopt;
    for (int n = 0; n < 10; ++n) {
        const fs::path name = folder / (stem + (n ? "(" + std::to_string(n) + ")" : "") + ".CFG");
        // A hard link is the one way to place a file under a name only if
        // that name is free; where links are not supported, look first.
        if (::link(tmp.path().c_str(), name.c_str()) == 0)
            return name; // the temporary file goes with tmp
        if (errno == EEXIST)
            continue;
        std::error_code ec;
        if (fs::exists(name, ec) || ec)
            continue;
        if (std::rename(tmp.path().c_str(), name.c_str()) != 0) {
            reason = system_error("cannot create file");
            return std::nullopt;
        }
        tmp.released();
        return name;
    }
    reason = "all ten file names are taken";
    return std::nullopt;
}

} // namespace talvor
