#include "operations/batch_report.h"

#include <cstdio>
#include <ctime>

#include "operations/file_place.h"
#include "transport/json_quote.h"
#include "transport/path_text.h"
#include "transport/user_folder.h"

namespace talvor {

namespace fs = std::filesystem;

namespace {

// The calendar of <chrono> rather than gmtime_r, which not every C
// library has.
std::tm utc(std::chrono::system_clock::time_point t)
{
    using namespace std::chrono;
    const auto day = floor<days>(t);
    const year_month_day date{day};
    const hh_mm_ss time{floor<seconds>(t - day)};
    std::tm tm{};
    tm.tm_year = static_cast<int>(date.year()) - 1900;
    tm.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
    tm.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
    tm.tm_hour = static_cast<int>(time.hours().count());
    tm.tm_min = static_cast<int>(time.minutes().count());
    tm.tm_sec = static_cast<int>(time.seconds().count());
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
    const char* result = outcome_status(o);
    std::string reason = o.reason;
    if (o.result == job_running)
        reason = "did not report";
    // The file written for the unit (a download), else the one the batch sent.
    const fs::path& sent = o.file.empty() ? file.path : o.file;
    std::error_code ec;
    const fs::path where = sent.empty() ? fs::path() : fs::absolute(sent, ec);
    return "{\"start\": " + time_text(o.started) + ", \"end\": " + time_text(o.ended) +
           ", \"batch\": " + time_text(file.started) +
           ", \"command\": " + json_quote(file.command) + ", \"address\": " + json_quote(o.address) +
           ", \"serial\": " + json_quote(o.serial) + ", \"label\": " + json_quote(o.label) +
           ", \"file\": " + text_or_null(path_text(where)) + ", \"sha256\": " + text_or_null(file.sha256) +
           ", \"result\": \"" + result + "\", \"reason\": " + text_or_null(reason) +
           ", \"version_before\": " + text_or_null(o.version_before) +
           ", \"version_after\": " + text_or_null(o.version_after) + "}";
}

std::string batch_report(batch_context& ctx)
{
    std::string lines;
    for (const batch_outcome& o : ctx.outcomes())
        lines += batch_report_line(o, ctx.file()) + "\n";
    for (const batch_outcome& o : ctx.skipped())
        lines += batch_report_line(o, ctx.file()) + "\n";
    return lines;
}

fs::path batch_log_folder() { return user_folder(user_files::state) / "batch-log"; }

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
    return append_whole(folder / name, lines);
}

} // namespace talvor
