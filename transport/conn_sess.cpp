#include "transport/conn_sess.h"

#include <cctype>
#include <stdexcept>

#include "transport/conn_sess_impl.h"
#include "transport/socket_calls.h"

namespace talvor {

namespace {

std::string lower_ascii(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

std::string host_text(const ip_address& address)
{
    const std::string text = ipv6_address_text(address);
    const auto colon = text.rfind(':');
    if (colon != std::string::npos && text.find('.', colon) != std::string::npos)
        return text.substr(colon + 1);
    return "[" + text + "]";
}

bool is_dotted_host(const ip_address& address)
{
    return !host_text(address).starts_with('[');
}

std::string connect_text(const ip_address& address)
{
    const std::string host = host_text(address);
    if (host.starts_with('['))
        return host.substr(1, host.size() - 2);
    return host;
}

std::uint64_t conn_sess::impl::add_cancel_hook(std::function<void()> hook)
{
    std::lock_guard g(lock);
    const auto id = next_hook++;
    cancel_hooks.emplace(id, std::move(hook));
    return id;
}

void conn_sess::impl::remove_cancel_hook(std::uint64_t id)
{
    std::lock_guard g(lock);
    cancel_hooks.erase(id);
}

std::shared_ptr<http_link> conn_sess::impl::take_idle_link()
{
    std::lock_guard g(lock);
    return std::move(idle_link);
}

void conn_sess::impl::keep_idle_link(std::shared_ptr<http_link> link)
{
    std::shared_ptr<http_link> old;
    {
        std::lock_guard g(lock);
        old = std::move(idle_link);
        idle_link = std::move(link);
    }
    // `old` closes its socket here, outside the lock.
}

void conn_sess::impl::count_link_opened()
{
    std::lock_guard g(lock);
    ++links_opened;
}

std::shared_ptr<conn_sess> conn_sess::create(const ip_address& address, std::string user_agent)
{
    auto i = std::make_unique<impl>();
    i->address = address;
    i->user_agent = std::move(user_agent);
    if (ipv6_address_text(address).empty())
        throw std::runtime_error("failed to create communication connection");
    i->host = host_text(address);
    return std::shared_ptr<conn_sess>(new conn_sess(std::move(i)));
}

conn_sess::conn_sess(std::unique_ptr<impl> i) : impl_(std::move(i)) {}

conn_sess::~conn_sess() = default;

const ip_address& conn_sess::address() const { return impl_->address; }
const std::string& conn_sess::host() const { return impl_->host; }
const std::string& conn_sess::user_agent() const { return impl_->user_agent; }

void conn_sess::set_cancel(bool on)
{
    std::lock_guard g(impl_->lock);
    impl_->cancel.store(on);
    if (on) {
        for (auto& [id, hook] : impl_->cancel_hooks)
            hook();
    }
    impl_->cancel_changed.notify_all();
}

bool conn_sess::cancelled() const { return impl_->cancel.load(); }

bool conn_sess::wait_cancel(int ms)
{
    std::unique_lock g(impl_->lock);
    const auto limit = std::chrono::milliseconds(ms < 0 ? 0 : ms);
    return !impl_->cancel_changed.wait_for(g, limit, [this] { return impl_->cancel.load(); });
}

void conn_sess::set_step_limit(std::chrono::milliseconds limit)
{
    impl_->timeouts = {limit, limit, limit};
}

std::optional<std::string> conn_sess::cookie(std::string_view name) const
{
    std::lock_guard g(impl_->lock);
    const auto it = impl_->cookies.find(lower_ascii(name));
    if (it == impl_->cookies.end())
        return std::nullopt;
    return it->second;
}

void conn_sess::store_set_cookie(std::string_view header_value)
{
    const auto eq = header_value.find('=');
    if (eq == std::string_view::npos)
        return;
    std::string name = lower_ascii(header_value.substr(0, eq));
    std::string_view value = header_value.substr(eq + 1);
    value = value.substr(0, value.find(';'));
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
        value.remove_suffix(1);
    if (value.size() > 1 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    std::lock_guard g(impl_->lock);
    impl_->cookies[std::move(name)] = std::string(value);
}

} // namespace talvor
