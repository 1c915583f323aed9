// Any bytes as a unit's answer to a plain HTTP request, served on
// 127.91.0.1 port 80 (root). The status handed back is the one on the
// status line; a body read whole is read the same in small single steps;
// a limit of exactly its size fails and one more succeeds; stored cookie
// names are lower case.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "transport/conn_sess.h"
#include "transport/conn_sess_impl.h"

namespace {

constexpr const char* unit_ip = "127.91.0.1";

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// Answers each connection, one at a time, with the current reply and
// closes it. Lives as long as the process.
class reply_server {
public:
    reply_server()
    {
        listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(80);
        ::inet_pton(AF_INET, unit_ip, &a.sin_addr);
        if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_fd_, 16) != 0)
            std::abort(); // port 80 needs root
        std::thread([this] { serve(); }).detach();
    }

    void set_reply(std::string bytes)
    {
        std::lock_guard g(lock_);
        reply_ = std::move(bytes);
    }

private:
    void serve()
    {
        for (;;) {
            const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            std::string reply;
            {
                std::lock_guard g(lock_);
                reply = reply_;
            }
            // The request is a head without body: read all of it, so that
            // closing sends no reset that could overtake the reply.
            std::string head;
            pollfd p{fd, POLLIN, 0};
            while (head.find("\r\n\r\n") == std::string::npos && ::poll(&p, 1, 5000) == 1) {
                char buf[1024];
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                head.append(buf, static_cast<std::size_t>(n));
            }
            for (std::size_t at = 0; at < reply.size();) {
                const ssize_t n = ::send(fd, reply.data() + at, reply.size() - at, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                at += static_cast<std::size_t>(n);
            }
            ::shutdown(fd, SHUT_WR);
            ::close(fd);
        }
    }

    int listen_fd_ = -1;
    std::mutex lock_;
    std::string reply_;
};

std::shared_ptr<talvor::conn_sess> session()
{
    talvor::ip_address a{};
    a[10] = a[11] = 0xff;
    ::inet_pton(AF_INET, unit_ip, a.data() + 12);
    return talvor::conn_sess::create(a, "fuzz");
}

// The status on a status line the way any HTTP/1 reader sees it, or 0.
int status_line_code(const std::string& r)
{
    const auto digit = [&](std::size_t i) { return i < r.size() && r[i] >= '0' && r[i] <= '9'; };
    if (r.compare(0, 5, "HTTP/") != 0 || !digit(5) || r[6] != '.' || !digit(7) || r[8] != ' ' || !digit(9) ||
        !digit(10) || !digit(11))
        return 0;
    return std::stoi(r.substr(9, 3));
}

struct body_read {
    int status;
    int result;
    talvor::byte_vector body;
};

body_read read_whole(std::size_t limit)
{
    auto s = session();
    talvor::http_exchange x(s, false, "/fuzz");
    body_read r{x.run(talvor::progress_range{}), -1, {}};
    if (r.status == 200) {
        r.result = x.read_body(r.body, limit);
        check(r.result == 0 ? r.body.size() < limit : r.body.empty());
        for (const auto& [name, value] : s->internals().cookies)
            check(name.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ=") == std::string::npos &&
                  value.find(';') == std::string::npos);
    }
    return r;
}

body_read read_in_steps(std::size_t step)
{
    auto s = session();
    talvor::http_exchange x(s, false, "/fuzz");
    body_read r{x.run(talvor::progress_range{}), -1, {}};
    if (r.status != 200)
        return r;
    for (;;) {
        talvor::byte_vector piece;
        if (x.read_once(piece, step) != 0)
            return r;
        check(piece.size() <= step);
        if (piece.empty())
            break;
        r.body.insert(r.body.end(), piece.begin(), piece.end());
    }
    r.result = 0;
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static reply_server* const server = new reply_server;
    const std::string reply(reinterpret_cast<const char*>(data), size);
    server->set_reply(reply);

    const auto whole = read_whole(std::size_t{1} << 24);
    if (whole.status > 0)
        check(whole.status == status_line_code(reply));
    if (whole.status != 200)
        return 0;
    const auto steps = read_in_steps(1 + size % 5);
    check(steps.status == 200 && steps.result == whole.result);
    if (whole.result != 0)
        return 0;
    check(steps.body == whole.body);
    check(read_whole(whole.body.size()).result == -1);
    const auto fits = read_whole(whole.body.size() + 1);
    check(fits.result == 0 && fits.body == whole.body);
    return 0;
}
