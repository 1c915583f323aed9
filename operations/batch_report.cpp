#include "operations/batch_report.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "transport/json_quote.h"

namespace talvor {

namespace fs = std::filesystem;

namespace {

std::tm utc(std::chrono::system_clock::time_point t)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    return tm;
}

std::string time_text(std::chrono::system_clock::time_point t)
{
    if (t.time_since_epoch().count() == 0)
        return "null";
    const std::tm tm = utc(t);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
    char buf[96];
    std::snprintf(buf, sizeof buf, "\"%04d-%02d-%02dT%02d:%02d:%02d.%03dZ\"", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    return buf;
}

std::string text_or_null(const std::string& s) { return s.empty() ? "null" : json_quote(s); }

} // namespace

std::string batch_report_line(const batch_outcome& o, const batch_file& file)
{
    const char* result = o.result == job_succeeded ? "ok" : o.result == job_failed ? "failed" : "cancelled";
    std::string reason = o.reason;
    if (o.result == job_running)
        reason = "did not report";
    std::error_code ec;
    const fs::path where = file.path.empty() ? fs::path() : fs::absolute(file.path, ec);
    return "{\"start\": " + time_text(o.started) + ", \"end\": " + time_text(o.ended) +
           ", \"command\": " + json_quote(file.command) + ", \"address\": " + json_quote(o.address) +
           ", \"serial\": " + json_quote(o.serial) + ", \"label\": " + json_quote(o.label) +
           ", \"file\": " + text_or_null(where.string()) + ", \"sha256\": " + text_or_null(file.sha256) +
           ", \"result\": \"" + result + "\", \"reason\": " + text_or_null(reason) +
           ", \"version_before\": " + text_or_null(o.version_before) +
           ", \"version_after\": " + text_or_null(o.version_after) + "}";
}

std::string batch_report(batch_context& ctx)
{
    std::string lines;
    for (const batch_outcome& o : ctx.outcomes())
        lines += batch_report_line(o, ctx.file()) + "\n";
    return lines;
}

fs::path batch_log_folder()
{
    fs::path base;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = fs::path(home) / ".local" / "state";
    else
        base = fs::temp_directory_path();
    return base / "Quillon" / "Talvor Manager" / "batch-log";
}

int append_batch_log(const std::string& lines)
{
    const fs::path folder = batch_log_folder();
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::tm tm = utc(std::chrono::system_clock::now());
    char name[64];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d.jsonl", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    // One write in append mode: lines of batches run at the same time do
    // not interleave.
    const int fd = ::open((folder / name).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    const ssize_t n = ::write(fd, lines.data(), lines.size());
    const bool ok = n == static_cast<ssize_t>(lines.size());
    return ::close(fd) == 0 && ok ? 0 : -1;
}

} // namespace talvor
