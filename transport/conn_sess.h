#pragma once
// The one connection to one unit: its address, its cancel event and the
// cookies it has set; plus the two kinds of exchange that run over it (a
// plain HTTP request on port 80, and the TLS WebSocket on port 443).
//
// Every wait here blocks the calling worker until the step completes, a
// platform time-out passes (connect 60 s, each send 30 s, each receive 30 s)
// or the session's cancel is set from any thread. No Boost or OpenSSL type
// appears in this header.
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "transport/progress.h"

namespace talvor {

// A unit's 16-byte IPv6 address; IPv4 units as IPv4-mapped (::ffff:a.b.c.d).
using ip_address = std::array<std::uint8_t, 16>;
using byte_vector = std::vector<std::uint8_t>;

// Security problem bits.
inline constexpr std::uint32_t problem_identity = 1;    // certificate does not name the unit
inline constexpr std::uint32_t problem_untrusted = 2;   // unknown issuer
inline constexpr std::uint32_t problem_invalid = 4;     // expired, not yet valid, wrong usage
inline constexpr std::uint32_t problem_unencrypted = 8; // plain HTTP

// Internal result codes of the request-level steps. An exchange returns
// code - 1000 for all of them but status_not_ok (whose status it returns).
namespace tcode {
inline constexpr int ok = 0;
inline constexpr int cancelled = 2;
inline constexpr int no_request = 3;
inline constexpr int socket_already_open = 4;
inline constexpr int no_socket = 5;
inline constexpr int option_failed = 6;
inline constexpr int send_failed = 7;
inline constexpr int send_error = 8;
inline constexpr int receive_failed = 9;
inline constexpr int receive_error = 10;
inline constexpr int header_failed = 11;
inline constexpr int upgrade_refused = 12;
inline constexpr int upgrade_failed = 13;
inline constexpr int ws_send_refused = 14;
inline constexpr int ws_send_error = 15;
inline constexpr int ws_receive_refused = 16;
inline constexpr int ws_receive_error = 17;
inline constexpr int ws_closed_by_unit = 18;
inline constexpr int status_not_ok = 19;
inline constexpr int write_refused = 20;
inline constexpr int write_error = 21;
inline constexpr int read_error = 23;
inline constexpr int certificate_problem = 24;
inline constexpr int connection_refused = 25;
inline constexpr int no_more_cookies = 26;
} // namespace tcode

// "a.b.c.d" for IPv4-mapped addresses, else "[v6 text]".
std::string host_text(const ip_address& address);

class conn_sess {
public:
    struct impl;

    // Throws std::runtime_error with one of the fixed creation texts.
    static std::shared_ptr<conn_sess> create(const ip_address& address, std::string user_agent);
    ~conn_sess();
    conn_sess(const conn_sess&) = delete;
    conn_sess& operator=(const conn_sess&) = delete;

    const ip_address& address() const;
    const std::string& host() const;
    const std::string& user_agent() const;

    // The cancel event: manual reset, shared by every wait of this session.
    void set_cancel(bool on);
    bool cancelled() const;
    // Waits up to `ms`; true when the time passed without cancellation.
    bool wait_cancel(int ms);

    // One limit for each of those waits instead of the platform's (a run's
    // --timeout); set before the session is first used.
    void set_step_limit(std::chrono::milliseconds limit);

    // Cookies by lower-cased name.
    std::optional<std::string> cookie(std::string_view name) const;
    // Parses one Set-Cookie value and stores it (a value without '=' is ignored).
    void store_set_cookie(std::string_view header_value);

    impl& internals() { return *impl_; }

private:
    explicit conn_sess(std::unique_ptr<impl> i);
    std::unique_ptr<impl> impl_;
};

// One plain HTTP request/response on port 80.
class http_exchange {
public:
    struct impl;

    // POST paths get "?" and the csrf cookie appended when the unit set one.
    http_exchange(std::shared_ptr<conn_sess> session, bool post, std::string path);
    ~http_exchange();
    http_exchange(const http_exchange&) = delete;
    http_exchange& operator=(const http_exchange&) = delete;

    const std::string& path() const;

    // Body segments, sent in order (copied).
    void add_segment(std::span<const std::uint8_t> bytes);
    void add_segment(std::string_view text);
    // A segment sent from where it lies (a firmware image many units share):
    // the bytes must stay as they are until run() has returned.
    void add_segment_in_place(std::span<const std::uint8_t> bytes);
    // Multipart framing texts built from one boundary of this exchange.
    const std::string& multipart_head() const;      // B "\r\n\r\n"
    const std::string& multipart_separator() const; // "\r\n" B "\r\n\r\n"
    const std::string& multipart_tail() const;      // "\r\n" B "--\r\n"

    // Sends the request and its body (in pieces of up to 64 KiB, progress
    // before each and after the last; cancellation between pieces and
    // inside a blocked one) and reads the status. 200, the unit's status, or
    // an internal code - 1000 (-998 cancelled, -975 refused).
    int run(const progress_range& progress);
    // Reads the whole body; 0 when it ended below `limit`, else -1.
    int read_body(byte_vector& out, std::size_t limit);
    // One read of at most `max` bytes of the body (the login role); 0 or -1.
    int read_once(byte_vector& out, std::size_t max);

private:
    std::shared_ptr<conn_sess> session_;
    std::unique_ptr<impl> impl_;
};

// The unit's TLS WebSocket on port 443, path "/".
class ws_socket {
public:
    struct impl;

    explicit ws_socket(std::shared_ptr<conn_sess> session);
    ~ws_socket();
    ws_socket(const ws_socket&) = delete;
    ws_socket& operator=(const ws_socket&) = delete;

    // Connects, checks the certificate and upgrades. Problems named in
    // `accepted_problems` are not checked. Returns an internal code; on
    // tcode::certificate_problem `found_problems` holds the problem bits.
    int open(std::uint32_t accepted_problems, std::uint32_t& found_problems);
    bool is_open() const;
    // Sends one binary message; internal code. A failure closes the socket.
    int send(std::span<const std::uint8_t> message);
    // One message made of two parts, sent without joining them first (a
    // large file behind its request text).
    int send(std::span<const std::uint8_t> head, std::span<const std::uint8_t> tail);
    // Receives one whole message. A message longer than `capacity` is read
    // to its end and dropped, with `overflow` set (the caller fails the
    // request). Internal code; a close frame gives ws_closed_by_unit; any
    // failure closes the socket.
    int receive(byte_vector& message, std::size_t capacity, bool& overflow);
    void close();
    // DER bytes of the unit's certificate; empty when not open.
    byte_vector server_certificate() const;

private:
    std::shared_ptr<conn_sess> session_;
    std::unique_ptr<impl> impl_;
};

// The per-user folder of trusted unit certificates (one PEM file each,
// trusted as leaves too). Tests point it elsewhere before any handshake.
std::string trusted_folder();
void set_trusted_folder(std::string folder);
// Trusts a DER certificate: into the folder once one was set, otherwise into
// the user's own store (the default folder; the current user's "Root"
// certificate store on Windows); 0 or -1.
int trust_certificate(std::span<const std::uint8_t> der);

} // namespace talvor
