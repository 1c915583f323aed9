#include "operations/file_place.h"

#include <windows.h>

#include <random>
#include <system_error>

namespace fs = std::filesystem;

namespace talvor {

namespace {

std::string system_error(const char* what)
{
    return std::string(what) + ": " + std::system_category().message(static_cast<int>(::GetLastError()));
}

HANDLE handle_of(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

} // namespace

temp_file::temp_file(const fs::path& folder, const std::string& stem)
{
    static const char hex[] = "0123456789abcdef";
    std::random_device random;
    for (int attempt = 0; attempt < 100 && handle_ == -1; ++attempt) {
        std::string tag;
        for (unsigned v = random(), i = 0; i < 8; ++i, v >>= 4)
            tag += hex[v & 15];
        const fs::path name = folder / fs::path(std::u8string(u8".") + std::u8string(stem.begin(), stem.end()) +
                                                std::u8string(u8".") + std::u8string(tag.begin(), tag.end()) +
                                                std::u8string(u8".tmp"));
        // CREATE_NEW fails when the name exists: the same as O_EXCL.
        const HANDLE h = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            handle_ = reinterpret_cast<std::intptr_t>(h);
            path_ = name;
        } else if (::GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    if (handle_ == -1)
        error_ = system_error("cannot create file");
}

temp_file::~temp_file()
{
    if (handle_ != -1)
        ::CloseHandle(handle_of(handle_));
    if (!path_.empty())
        ::DeleteFileW(path_.c_str());
}

bool temp_file::write_all(const byte_vector& bytes, std::string& reason)
{
    const HANDLE h = handle_of(handle_);
    handle_ = -1;
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        const DWORD step = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD n = 0;
        ok = ::WriteFile(h, bytes.data() + done, step, &n, nullptr) && n != 0;
        if (!ok)
            reason = system_error("write failed");
        done += n;
    }
    if (ok && !::FlushFileBuffers(h)) {
        reason = system_error("write failed");
        ok = false;
    }
    if (!::CloseHandle(h) && ok) {
        reason = system_error("write failed");
        ok = false;
    }
    return ok;
}

bool move_replacing(temp_file& from, const fs::path& to, std::string& reason)
{
    if (!::MoveFileExW(from.path().c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        reason = system_error("cannot replace file");
        return false;
    }
    from.released();
    return true;
}

int move_if_free(temp_file& from, const fs::path& to, std::string& reason)
{
    // Without MOVEFILE_REPLACE_EXISTING the move itself refuses a taken name.
    if (::MoveFileExW(from.path().c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
        from.released();
        return 1;
    }
    const DWORD e = ::GetLastError();
    if (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS)
        return 0;
    reason = system_error("cannot create file");
    return -1;
}

int append_whole(const fs::path& file, const std::string& text)
{
    // FILE_APPEND_DATA alone: every write goes to the end, whoever else
    // has the file open.
    const HANDLE h = ::CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    DWORD n = 0;
    const bool ok = ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr) && n == text.size();
    return ::CloseHandle(h) && ok ? 0 : -1;
}

} // namespace talvor
