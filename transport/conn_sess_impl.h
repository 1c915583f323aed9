#pragma once
// What a session holds behind conn_sess::impl, shared by the exchange and
// WebSocket code of this folder. No Boost or OpenSSL type appears here.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "transport/conn_sess.h"

namespace talvor {

struct http_link; // a kept-open TCP connection to port 80

struct step_timeouts {
    std::chrono::milliseconds connect{60000};
    std::chrono::milliseconds send{30000};
    std::chrono::milliseconds receive{30000};
};

struct conn_sess::impl {
    ip_address address{};
    std::string host;
    std::string user_agent;
    step_timeouts timeouts; // tests shorten them

    std::atomic<bool> cancel{false};

    mutable std::mutex lock; // guards everything below
    std::condition_variable cancel_changed;
    std::unordered_map<std::string, std::string> cookies;
    std::map<std::uint64_t, std::function<void()>> cancel_hooks;
    std::uint64_t next_hook = 1;
    std::shared_ptr<http_link> idle_link;
    std::uint64_t links_opened = 0; // TCP connections made on port 80

    // A hook runs on the cancelling thread, under the lock: it may only hand
    // work to an event loop, never block or call back into the session.
    std::uint64_t add_cancel_hook(std::function<void()> hook);
    void remove_cancel_hook(std::uint64_t id);

    std::shared_ptr<http_link> take_idle_link();
    void keep_idle_link(std::shared_ptr<http_link> link);
    void count_link_opened();
};

// The IPv4 form when the address text is dotted (IPv4-mapped), so that
// connecting and certificate checks agree with the host name sent.
bool is_dotted_host(const ip_address& address);
// The address to connect to: dotted IPv4 or bare IPv6 text.
std::string connect_text(const ip_address& address);

} // namespace talvor
