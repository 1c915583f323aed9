#include "simulator/unit.h"

#include <openssl/evp.h>

#include <algorithm>

#include <boost/json.hpp>

namespace json = boost::json;

namespace talvor::sim {
namespace {

bool list_matches(const json::value& v, std::string_view op)
{
    if (v.is_bool())
        return v.as_bool();
    if (v.is_string())
        return v.as_string() == "*" || v.as_string() == op;
    if (v.is_array()) {
        for (auto& e : v.as_array())
            if (e.is_string() && (e.as_string() == op || e.as_string() == "*"))
                return true;
        return false;
    }
    if (v.is_int64())
        return v.as_int64() != 0;
    return false;
}

bool has_even_00(std::string_view s)
{
    for (std::size_t i = 0; i + 1 < s.size(); i += 2)
        if (s[i] == '0' && s[i + 1] == '0')
            return true;
    return false;
}

} // namespace

unit::unit(unit_config config)
    : cfg(std::move(config)),
      faults_(cfg.faults),
      password_(cfg.password),
      registers_(cfg.registers),
      random_(std::random_device{}())
{
    key_ = key_f(password_, cfg.salt);
    seed_mishaps();
}

bool unit::fault(std::string_view name, std::string_view op) const
{
    std::lock_guard lock(mutex_);
    auto* v = faults_.if_contains(name);
    if (v && list_matches(*v, op))
        return true;
    // NAME_once: the same fault, for the first matching request only.
    const std::string once = std::string(name) + "_once";
    auto* w = faults_.if_contains(once);
    if (!w || !list_matches(*w, op))
        return false;
    if (w->is_array()) {
        auto& list = w->as_array();
        for (auto it = list.begin(); it != list.end(); ++it)
            if (it->is_string() && (it->as_string() == op || it->as_string() == "*")) {
                list.erase(it);
                break;
            }
        if (!list.empty())
            return true;
    }
    faults_.erase(once);
    return true;
}

int unit::fault_number(std::string_view name) const
{
    std::lock_guard lock(mutex_);
    auto* v = faults_.if_contains(name);
    if (!v)
        return 0;
    if (v->is_int64())
        return static_cast<int>(v->as_int64());
    if (v->is_bool())
        return v->as_bool() ? 50 : 0;
    return 0;
}

int unit::forced_status(std::string_view op)
{
    std::lock_guard lock(mutex_);
    auto* f = faults_.if_contains("fail");
    if (!f || !f->is_object())
        return 0;
    auto* s = f->as_object().if_contains(op);
    if (s && s->is_array()) {
        auto& list = s->as_array();
        if (list.empty())
            return 0;
        const json::value next = list.front();
        list.erase(list.begin());
        return next.is_int64() ? static_cast<int>(next.as_int64()) : 0;
    }
    return s && s->is_int64() ? static_cast<int>(s->as_int64()) : 0;
}

void unit::set_fault(std::string_view name, const json::value& value)
{
    std::lock_guard lock(mutex_);
    if (value.is_null() || (value.is_bool() && !value.as_bool()))
        faults_.erase(name);
    else
        faults_[name] = value;
    if (name == "random")
        seed_mishaps(); // a new setting starts its sequence again
}

int unit::take_fault_ms(std::string_view name)
{
    std::lock_guard lock(mutex_);
    if (auto* v = faults_.if_contains(name); v && v->is_int64())
        return static_cast<int>(std::max<std::int64_t>(v->as_int64(), 0));
    const std::string once = std::string(name) + "_once";
    auto* w = faults_.if_contains(once);
    if (!w || !w->is_int64())
        return 0;
    const int ms = static_cast<int>(std::max<std::int64_t>(w->as_int64(), 0));
    faults_.erase(once);
    return ms;
}

namespace {

const json::object* random_fault(const json::object& faults)
{
    auto* r = faults.if_contains("random");
    return r && r->is_object() ? &r->as_object() : nullptr;
}

double number_in(const json::object& o, std::string_view key, double otherwise)
{
    auto* v = o.if_contains(key);
    if (v && v->is_double())
        return v->as_double();
    if (v && v->is_int64())
        return static_cast<double>(v->as_int64());
    return otherwise;
}

} // namespace

void unit::seed_mishaps()
{
    // FNV-1a of the name: the same on every build, unlike std::hash.
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : cfg.name)
        h = (h ^ c) * 1099511628211ull;
    const json::object* r = random_fault(faults_);
    const auto seed = static_cast<std::uint64_t>(r ? number_in(*r, "seed", 1) : 1);
    mishaps_.seed(h ^ (seed * 0x9e3779b97f4a7c15ull));
}

unit::mishap unit::draw_mishap(int& stall_ms)
{
    std::lock_guard lock(mutex_);
    const json::object* r = random_fault(faults_);
    if (!r)
        return mishap::none;
    static const std::pair<const char*, mishap> names[] = {
        {"drop", mishap::drop}, {"stall", mishap::stall}, {"500", mishap::status_500}, {"close", mishap::close}};
    std::vector<mishap> kinds;
    auto* listed = r->if_contains("kinds");
    for (auto& [text, m] : names) {
        bool on = !listed || !listed->is_array();
        if (!on)
            for (auto& k : listed->as_array())
                on = on || (k.is_string() && k.as_string() == text);
        if (on)
            kinds.push_back(m);
    }
    // Raw draws, not std distributions, whose results differ between libraries.
    const double x = static_cast<double>(mishaps_() >> 11) * 0x1.0p-53;
    const std::uint64_t pick = mishaps_();
    if (kinds.empty() || x >= number_in(*r, "chance", 0))
        return mishap::none;
    stall_ms = static_cast<int>(number_in(*r, "stall_ms", 1000));
    return kinds[pick % kinds.size()];
}

std::string unit::random_hex(std::size_t digits)
{
    static const char hex[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < digits; ++i)
        s.push_back(hex[random_() & 15]);
    return s;
}

std::string unit::next_csrf()
{
    if (csrf_next_ < cfg.csrf_sequence.size())
        return cfg.csrf_sequence[csrf_next_++];
    std::string s;
    do
        s = random_hex(8);
    while (has_even_00(s));
    return s;
}

std::string unit::http_challenge_reply()
{
    std::lock_guard lock(mutex_);
    challenge_ = random_hex(16);
    json::object o;
    o["challenge"] = challenge_;
    o["salt"] = cfg.salt;
    return json::serialize(o);
}

unit::login_result unit::http_login(std::string_view pass_hex)
{
    std::lock_guard lock(mutex_);
    login_result r;
    if (challenge_.empty() || pass_hex != to_hex(as_text(key_f(as_text(key_), challenge_))))
        return r;
    challenge_.clear(); // one response per challenge
    http_logged_in_ = true;
    csrf_ = next_csrf();
    auth_ = random_hex(16);
    r.ok = true;
    r.csrf = csrf_;
    r.auth = auth_;
    return r;
}

bool unit::http_logout(std::string_view pass_hex)
{
    std::lock_guard lock(mutex_);
    if (challenge_.empty() || pass_hex != to_hex(as_text(key_f(as_text(key_), challenge_))))
        return false;
    challenge_.clear();
    http_logged_in_ = false;
    return true;
}

bool unit::http_set_password(std::string_view pass_hex, std::string_view check_hex)
{
    std::lock_guard lock(mutex_);
    auto pass = key_from_hex(pass_hex);
    auto check = key_from_hex(check_hex);
    if (challenge_.empty() || !pass || !check)
        return false;
    key_bytes r = key_f(as_text(key_), challenge_);
    key_bytes n{};
    for (std::size_t i = 0; i < n.size(); ++i)
        n[i] = static_cast<std::uint8_t>((*pass)[i] ^ r[i]);
    if (key_f(as_text(n), challenge_) != *check)
        return false;
    challenge_.clear();
    key_ = n;
    password_.clear(); // only the key is known now
    password_changed_ = true;
    return true;
}

bool unit::csrf_ok(std::string_view query) const
{
    std::lock_guard lock(mutex_);
    return !cfg.csrf_check || csrf_.empty() || query == csrf_;
}

bool unit::auth_ok(std::string_view token) const
{
    std::lock_guard lock(mutex_);
    return !auth_.empty() && token == auth_;
}

bool unit::http_logged_in() const
{
    std::lock_guard lock(mutex_);
    return http_logged_in_ || !cfg.require_login;
}

bool unit::key_matches(std::string_view pass_hex) const
{
    std::lock_guard lock(mutex_);
    return pass_hex == to_hex(as_text(key_));
}

bool unit::wss_set_password(std::string_view pass_hex, std::string_view check_hex)
{
    std::lock_guard lock(mutex_);
    auto check = key_from_hex(check_hex);
    if (pass_hex != to_hex(as_text(key_)) || !check)
        return false;
    key_ = *check;
    password_.clear();
    password_changed_ = true;
    return true;
}

bool unit::refuses_login(std::string_view op) const
{
    if (fault("login_403", op))
        return true;
    bool changed;
    {
        std::lock_guard lock(mutex_);
        changed = password_changed_;
    }
    return changed && fault("refuse_new_login", op);
}

std::string unit::password() const
{
    std::lock_guard lock(mutex_);
    return password_;
}

bool unit::password_matches(std::string_view candidate) const
{
    std::lock_guard lock(mutex_);
    return key_f(candidate, cfg.salt) == key_;
}

void unit::set_password(std::string_view password)
{
    std::lock_guard lock(mutex_);
    password_ = password;
    key_ = key_f(password_, cfg.salt);
}

std::vector<std::uint16_t> unit::read_registers(int start, int count) const
{
    std::lock_guard lock(mutex_);
    std::vector<std::uint16_t> out;
    for (int r = start; r < start + count; ++r) {
        auto it = registers_.find(r);
        out.push_back(it == registers_.end() ? 0 : it->second);
    }
    return out;
}

void unit::write_registers(int start, const std::vector<std::int64_t>& values)
{
    std::lock_guard lock(mutex_);
    int r = start;
    for (auto v : values)
        registers_[r++] = static_cast<std::uint16_t>(v);
}

std::uint16_t unit::register_value(int reg) const
{
    std::lock_guard lock(mutex_);
    auto it = registers_.find(reg);
    return it == registers_.end() ? 0 : it->second;
}

namespace {

// The first "vMAJOR.MINOR.BUILD" text in an image: the version it installs.
std::string image_version(std::string_view bytes)
{
    auto digits = [&](std::size_t& i) {
        const std::size_t from = i;
        while (i < bytes.size() && i - from < 5 && bytes[i] >= '0' && bytes[i] <= '9')
            ++i;
        return i > from;
    };
    for (std::size_t at = bytes.find('v'); at != std::string_view::npos; at = bytes.find('v', at + 1)) {
        std::size_t i = at + 1;
        if (digits(i) && i < bytes.size() && bytes[i] == '.' && digits(++i) && i < bytes.size() && bytes[i] == '.' &&
            digits(++i))
            return std::string(bytes.substr(at + 1, i - at - 1));
    }
    return {};
}

} // namespace

upload_summary unit::record_firmware(std::string kind, std::int64_t target, std::string bytes)
{
    upload_summary s{static_cast<std::int64_t>(bytes.size()), sha256_hex(bytes), target};
    if (kind == "fw_net" && cfg.install_ms >= 0) {
        const bool keep = fault("keep_version", "fw_net_file.action");
        std::lock_guard lock(mutex_);
        install_pending_ = keep ? std::string() : image_version(bytes);
    }
    if (!cfg.keep_uploads)
        bytes.clear();
    record(std::move(kind), target, std::move(bytes));
    return s;
}

std::string sha256_hex(std::string_view bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < size; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

void unit::record(std::string kind, std::int64_t number, std::string bytes)
{
    std::lock_guard lock(mutex_);
    events_.push_back({std::move(kind), number, std::move(bytes)});
}

std::vector<unit_event> unit::events() const
{
    std::lock_guard lock(mutex_);
    return events_;
}

std::string unit::last_upload(std::string_view kind) const
{
    std::lock_guard lock(mutex_);
    for (auto it = events_.rbegin(); it != events_.rend(); ++it)
        if (it->kind == kind)
            return it->bytes;
    return {};
}

void unit::set_fallback_cert(issued_cert cert, std::function<issued_cert()> reissue)
{
    std::lock_guard lock(mutex_);
    fallback_ = served_ = std::move(cert);
    reissue_ = std::move(reissue);
    ++served_generation_;
}

std::pair<std::uint64_t, issued_cert> unit::served_cert() const
{
    std::lock_guard lock(mutex_);
    return {served_generation_, served_};
}

void unit::store_user_cert(std::string file)
{
    std::lock_guard lock(mutex_);
    user_cert_ = std::move(file);
}

void unit::store_user_key(std::string file)
{
    std::lock_guard lock(mutex_);
    user_key_ = std::move(file);
}

void unit::regenerate_fallback()
{
    std::function<issued_cert()> reissue;
    {
        std::lock_guard lock(mutex_);
        reissue = reissue_;
    }
    issued_cert fresh;
    if (reissue)
        fresh = reissue(); // signing takes a while: outside the lock
    std::lock_guard lock(mutex_);
    if (!fresh.cert_der.empty())
        fallback_ = std::move(fresh);
    user_cert_.clear();
    user_key_.clear();
}

void unit::clear_user_cert()
{
    std::lock_guard lock(mutex_);
    user_cert_.clear();
    user_key_.clear();
}

void unit::reboot_requested(std::int64_t argument)
{
    std::lock_guard lock(mutex_);
    events_.push_back({"reboot", argument, {}});
    const auto code = argument & 0xFF;
    if (cfg.restart_ms >= 0 && (code == 1 || code == 7)) {
        restart_pending_ = true;
        restart_down_ms_ = cfg.restart_ms;
    }
}

void unit::restart_if_pending()
{
    std::vector<std::function<void()>> closers;
    std::optional<issued_cert> user;
    {
        std::lock_guard lock(mutex_);
        if (!restart_pending_)
            return;
        restart_pending_ = false;
        down_until_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(restart_down_ms_);
        http_logged_in_ = false;
        challenge_.clear();
        csrf_.clear();
        auth_.clear();
        if (!user_cert_.empty() && !user_key_.empty())
            user = matching_pair(user_cert_, user_key_);
        issued_cert next = user ? *user : fallback_;
        if (next.cert_der != served_.cert_der) {
            served_ = std::move(next);
            ++served_generation_;
        }
        events_.push_back({"restart", restart_down_ms_, {}});
        closers = connection_closers();
    }
    for (auto& close : closers)
        close();
}

bool unit::down() const
{
    std::lock_guard lock(mutex_);
    return std::chrono::steady_clock::now() < down_until_;
}

void unit::restart_for(int ms)
{
    {
        std::lock_guard lock(mutex_);
        restart_pending_ = true;
        restart_down_ms_ = ms;
    }
    restart_if_pending();
}

std::vector<std::function<void()>> unit::connection_closers() const
{
    std::vector<std::function<void()>> closers;
    for (auto& [id, close] : connections_)
        closers.push_back(close);
    return closers;
}

bool unit::link_refuses()
{
    std::vector<std::function<void()>> closers;
    {
        std::lock_guard lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        auto* f = faults_.if_contains("link_down");
        if (f && f->is_int64()) {
            link_up_at_ = now + std::chrono::milliseconds(std::max<std::int64_t>(f->as_int64(), 0));
            faults_.erase("link_down");
            events_.push_back({"link_down", static_cast<std::int64_t>(std::max<std::int64_t>(f->as_int64(), 0)), {}});
            closers = connection_closers();
        }
        if (closers.empty())
            return now < link_up_at_;
    }
    for (auto& close : closers)
        close();
    return true;
}

std::uint64_t unit::add_connection(std::function<void()> close)
{
    std::lock_guard lock(mutex_);
    const auto id = ++next_connection_;
    connections_.emplace(id, std::move(close));
    return id;
}

void unit::remove_connection(std::uint64_t id)
{
    std::lock_guard lock(mutex_);
    connections_.erase(id);
}

void unit::start_progress()
{
    std::lock_guard lock(mutex_);
    auto* f = faults_.if_contains("progress_fail");
    progress_ = f && list_matches(*f, "prog_get.action") ? cfg.progress_fail : cfg.progress;
    progress_step_ = 0;
}

std::string unit::progress_reply()
{
    std::lock_guard lock(mutex_);
    json::object o;
    if (progress_.empty()) {
        o["status"] = 3;
        o["prog"] = 100;
    } else {
        auto step = progress_[std::min(progress_step_, progress_.size() - 1)];
        if (progress_step_ < progress_.size())
            ++progress_step_;
        o["status"] = step.first;
        o["prog"] = step.second;
    }
    if (o["status"].as_int64() == 3 && install_pending_) {
        // Installed: the unit restarts once this reply is out.
        if (!install_pending_->empty())
            installed_version_ = *install_pending_;
        events_.push_back({"install", -1, *install_pending_});
        install_pending_.reset();
        restart_pending_ = true;
        restart_down_ms_ = cfg.install_ms;
    }
    return json::serialize(o);
}

std::string unit::gen_conf() const
{
    std::string version;
    {
        std::lock_guard lock(mutex_);
        version = installed_version_;
    }
    if (version.empty())
        return cfg.gen_conf;
    boost::system::error_code ec;
    json::value v = json::parse(cfg.gen_conf, ec);
    if (ec || !v.is_object())
        return cfg.gen_conf;
    v.as_object()["fw_v_net"] = "v" + version;
    return json::serialize(v);
}

} // namespace talvor::sim
