#include "operations/file_place.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace fs = std::filesystem;

namespace talvor {

namespace {
std::string system_error(const char* what) { return std::string(what) + ": " + std::strerror(errno); }
} // namespace

temp_file::temp_file(const fs::path& folder, const std::string& stem)
{
    static const char hex[] = "0123456789abcdef";
    std::random_device random;
    for (int attempt = 0; attempt < 100 && handle_ < 0; ++attempt) {
        std::string tag;
        for (unsigned v = random(), i = 0; i < 8; ++i, v >>= 4)
            tag += hex[v & 15];
        const fs::path name = folder / ("." + stem + "." + tag + ".tmp");
        handle_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (handle_ >= 0)
            path_ = name;
        else if (errno != EEXIST)
            break;
    }
    if (handle_ < 0)
        error_ = system_error("cannot create file");
}

temp_file::~temp_file()
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
    if (!path_.empty())
        ::unlink(path_.c_str());
}

bool temp_file::write_all(const byte_vector& bytes, std::string& reason)
{
    const int fd = static_cast<int>(handle_);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            reason = n < 0 ? system_error("write failed") : "write failed: short write";
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    handle_ = -1;
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

bool move_replacing(temp_file& from, const fs::path& to, std::string& reason)
{
    if (std::rename(from.path().c_str(), to.c_str()) != 0) {
        reason = system_error("cannot replace file");
        return false;
    }
    from.released();
    return true;
}

int move_if_free(temp_file& from, const fs::path& to, std::string& reason)
{
    // A hard link is the one way to place a file under a name only if that
    // name is free (the temporary name then goes with `from`); where links
    // are not supported, look first.
    if (::link(from.path().c_str(), to.c_str()) == 0)
        return 1;
    if (errno == EEXIST)
        return 0;
    std::error_code ec;
    if (fs::exists(to, ec) || ec)
        return 0;
    if (std::rename(from.path().c_str(), to.c_str()) != 0) {
        reason = system_error("cannot create file");
        return -1;
    }
    from.released();
    return 1;
}

int append_whole(const fs::path& file, const std::string& text)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    const ssize_t n = ::write(fd, text.data(), text.size());
    const bool ok = n == static_cast<ssize_t>(text.size());
    return ::close(fd) == 0 && ok ? 0 : -1;
}

} // namespace talvor
