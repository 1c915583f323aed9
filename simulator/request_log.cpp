#include "simulator/request_log.h"

#include <boost/json.hpp>
#include <chrono>
#include <stdexcept>

namespace json = boost::json;

namespace talvor::sim {
namespace {

// Text bodies stay readable in the log; anything else goes as base64.
bool is_plain_text(std::string_view s)
{
    for (unsigned char c : s)
        if ((c < 0x20 && c != '\r' && c != '\n' && c != '\t') || c >= 0x7f)
            return false;
    return true;
}

} // namespace

std::string base64(std::string_view bytes)
{
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                     static_cast<unsigned char>(bytes[i + 2]);
        out += {table[v >> 18], table[(v >> 12) & 63], table[(v >> 6) & 63], table[v & 63]};
    }
    if (i + 1 == bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += {table[v >> 18], table[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += {table[v >> 18], table[(v >> 12) & 63], table[(v >> 6) & 63], '='};
    }
    return out;
}

request_log::request_log(const std::filesystem::path& file) : path_(file)
{
    file_ = std::fopen(path_.string().c_str(), "w");
    if (!file_)
        throw std::runtime_error("cannot create request log " + path_.string());
}

request_log::~request_log()
{
    if (file_)
        std::fclose(file_);
}

std::int64_t request_log::now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string request_log::to_json_line(const request_entry& e)
{
    json::object o;
    o["unit"] = e.unit;
    o["address"] = e.address;
    o["time"] = e.time_ms;
    o["method"] = e.method;
    o["target"] = e.target;
    json::array headers;
    for (auto& [name, value] : e.headers)
        headers.push_back(json::array{json::string(name), json::string(value)});
    o["headers"] = std::move(headers);
    if (is_plain_text(e.body))
        o["body"] = e.body;
    else
        o["body_base64"] = base64(e.body);
    o["status"] = e.status;
    if (!e.fault.empty())
        o["fault"] = e.fault;
    if (e.upload_length >= 0) {
        o["upload_length"] = e.upload_length;
        o["upload_sha256"] = e.upload_sha256;
        o["upload_target"] = e.upload_target;
    }
    return json::serialize(o);
}

void request_log::add(request_entry entry)
{
    std::string line = to_json_line(entry);
    line.push_back('\n');
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
    entries_.push_back(std::move(entry));
}

std::vector<request_entry> request_log::all() const
{
    std::lock_guard lock(mutex_);
    return entries_;
}

std::vector<request_entry> request_log::of(std::string_view unit) const
{
    std::lock_guard lock(mutex_);
    std::vector<request_entry> out;
    for (auto& e : entries_)
        if (e.unit == unit)
            out.push_back(e);
    return out;
}

void request_log::clear()
{
    std::lock_guard lock(mutex_);
    entries_.clear();
}

void note_upload(request_entry& e, const upload_summary& upload, const unit& u)
{
    if (upload.length < 0)
        return;
    e.upload_length = upload.length;
    e.upload_sha256 = upload.sha256;
    e.upload_target = upload.target;
    if (!u.cfg.keep_uploads)
        e.body.clear();
}

} // namespace talvor::sim
