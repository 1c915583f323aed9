#include "operations/batch_history.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>

#include "transport/file_bytes.h"
#include "transport/json_parser.h"

namespace talvor {

namespace fs = std::filesystem;

namespace {

std::string text_of(const json_parser& p, std::string_view key)
{
    return p.get_text(p.find(json_parser::root, key));
}

std::optional<history_unit> unit_of(const std::string& line, std::string& command, std::string& id)
{
    json_ptr p = json_parser::from(line);
    if (!p || !p->is(json_parser::root, json_type::object))
        return std::nullopt;
    command = text_of(*p, "command");
    if (command.empty())
        return std::nullopt;
    id = text_of(*p, "batch");
    history_unit u;
    u.start = text_of(*p, "start");
    u.end = text_of(*p, "end");
    u.address = text_of(*p, "address");
    u.serial = text_of(*p, "serial");
    u.label = text_of(*p, "label");
    u.file = text_of(*p, "file");
    u.result = text_of(*p, "result");
    u.reason = text_of(*p, "reason");
    u.version_before = text_of(*p, "version_before");
    u.version_after = text_of(*p, "version_after");
    return u;
}

// Milliseconds since 1970 of "YYYY-MM-DDTHH:MM:SS(.mmm)Z"; nothing for other texts.
std::optional<std::int64_t> time_of(const std::string& t)
{
    int y, mo, d, h, mi, s, ms = 0;
    char tail = 0;
    if (std::sscanf(t.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c", &y, &mo, &d, &h, &mi, &s, &ms, &tail) < 6)
        return std::nullopt;
    using namespace std::chrono;
    const year_month_day date{year(y), month(static_cast<unsigned>(mo)), day(static_cast<unsigned>(d))};
    if (!date.ok() || h > 23 || mi > 59 || s > 60)
        return std::nullopt;
    const auto at = sys_days(date) + hours(h) + minutes(mi) + seconds(s) + milliseconds(ms);
    return duration_cast<milliseconds>(at.time_since_epoch()).count();
}

struct batch_builder {
    history_batch batch;
    std::optional<std::int64_t> last_end; // the latest end of its units
};

void add_unit(history_batch& b, history_unit u)
{
    const auto start = time_of(u.start);
    const auto earliest = time_of(b.start);
    if (start && (!earliest || *start < *earliest))
        b.start = u.start;
    (u.result == "ok" ? b.ok : b.failed) += 1;
    b.units.push_back(std::move(u));
}

// Whether a line without a batch key joins the batch before it: same
// command, and it started before that batch had ended (a second later at
// most, for the clocks' rounding).
bool joins(const batch_builder& current, const std::string& command, const history_unit& u)
{
    if (!current.batch.id.empty() || current.batch.command != command)
        return false;
    const auto start = time_of(u.start);
    return !start || !current.last_end || *start <= *current.last_end + 1000;
}

std::string read_tail(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    const std::streamoff from = size > std::streamoff(max_file_bytes) ? size - std::streamoff(max_file_bytes) : 0;
    in.seekg(from);
    std::string text(static_cast<std::size_t>(size - from), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (from > 0) // the first line was cut by the start of the read
        text.erase(0, text.find('\n') == std::string::npos ? text.size() : text.find('\n') + 1);
    return text;
}

} // namespace

std::vector<history_batch> parse_batch_history(std::string_view text)
{
    std::vector<history_batch> out;
    std::optional<batch_builder> current;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t eol = std::min(text.find('\n', at), text.size());
        const std::string line(text.substr(at, eol - at));
        at = eol + 1;
        std::string command, id;
        std::optional<history_unit> u = unit_of(line, command, id);
        if (!u)
            continue;
        const bool same = current && (id.empty() ? joins(*current, command, *u)
                                                 : current->batch.id == id && current->batch.command == command);
        if (!same) {
            if (current)
                out.push_back(std::move(current->batch));
            current.emplace();
            current->batch.id = id;
            current->batch.command = command;
        }
        if (const auto end = time_of(u->end); end && (!current->last_end || *end > *current->last_end))
            current->last_end = end;
        add_unit(current->batch, std::move(*u));
    }
    if (current)
        out.push_back(std::move(current->batch));
    return out;
}

std::vector<history_batch> read_batch_history(const fs::path& folder, std::size_t limit)
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".jsonl" && it->is_regular_file(ec))
            files.push_back(it->path());
    // Named by their day: the newest last.
    std::sort(files.begin(), files.end());
    std::vector<history_batch> out;
    for (auto f = files.rbegin(); f != files.rend() && out.size() < limit; ++f) {
        std::vector<history_batch> day = parse_batch_history(read_tail(*f));
        out.insert(out.begin(), std::make_move_iterator(day.begin()), std::make_move_iterator(day.end()));
    }
    if (out.size() > limit)
        out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(out.size() - limit));
    return out;
}

std::string history_time_text(const std::string& logged)
{
    if (!time_of(logged) || logged.size() < 19)
        return logged;
    std::string t = logged.substr(0, 19);
    t[10] = ' ';
    return t + " UTC";
}

} // namespace talvor
