#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include <sys/socket.h>

#include "raw_server.h"
#include "transport/conn_sess.h"
#include "transport/conn_sess_impl.h"

namespace talvor {
namespace {

using test::http_request;
using test::mapped;
using test::raw_conn;
using test::raw_server;
using test::reply;

// Serves every request on a connection with `answer` until the client
// closes; keeps the request heads and bodies.
struct recording_unit {
    std::mutex lock;
    std::vector<http_request> seen;
    std::function<std::string(const http_request&)> answer;
    raw_server server;

    recording_unit(const std::string& ip, std::function<std::string(const http_request&)> a)
        : answer(std::move(a)), server(ip, [this](raw_conn& c) {
              while (auto r = c.read_request()) {
                  {
                      std::lock_guard g(lock);
                      seen.push_back(*r);
                  }
                  if (!c.send(answer(*r)))
                      return;
              }
          })
    {
    }
    std::vector<http_request> requests()
    {
        std::lock_guard g(lock);
        return seen;
    }
};

int get(const std::shared_ptr<conn_sess>& s, const std::string& path, byte_vector* body = nullptr)
{
    http_exchange x(s, false, path);
    const int r = x.run(progress_range{});
    if (r == 200 && body)
        return x.read_body(*body, 1 << 20) == 0 ? 200 : -1;
    return r;
}

std::string text(const byte_vector& b) { return std::string(b.begin(), b.end()); }

TEST(HttpExchange, RequestsCarryOnlyHostAgentAndLengthAndCsrfOnPost)
{
    recording_unit unit("127.4.1.1", [](const http_request& r) {
        if (r.line().starts_with("GET /login"))
            return reply(200, "", "Set-Cookie: csrf=00ab; Path=/\r\n");
        return reply(200, "fine");
    });
    auto s = conn_sess::create(mapped("127.4.1.1"), "Talvor Manager");
    byte_vector body;
    ASSERT_EQ(get(s, "/login"), 200);
    EXPECT_EQ(s->cookie("csrf").value_or(""), "00ab");

    http_exchange post(s, true, "/reboot.action");
    EXPECT_EQ(post.path(), "/reboot.action?00ab");
    post.add_segment(std::string_view("reboot="));
    const std::uint8_t one[] = {'1'};
    post.add_segment(std::span<const std::uint8_t>(one));
    ASSERT_EQ(post.run(progress_range{}), 200);
    ASSERT_EQ(post.read_body(body, 100), 0);
    EXPECT_EQ(text(body), "fine");
    ASSERT_EQ(get(s, "/tap_details.action", &body), 200);

    const auto seen = unit.requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].head, "GET /login HTTP/1.1\r\nHost: 127.4.1.1\r\nUser-Agent: Talvor Manager\r\n\r\n");
    EXPECT_EQ(seen[1].head, "POST /reboot.action?00ab HTTP/1.1\r\nHost: 127.4.1.1\r\n"
                            "User-Agent: Talvor Manager\r\nContent-Length: 8\r\n\r\n");
    EXPECT_EQ(seen[1].body, "reboot=1");
    EXPECT_EQ(seen[2].line(), "GET /tap_details.action HTTP/1.1");
}

TEST(HttpExchange, CookiesComeOnlyFrom200RepliesWhateverTheirLength)
{
    const std::string long_token(5000, 'k');
    recording_unit unit("127.4.1.2", [&](const http_request& r) {
        if (r.line().starts_with("GET /denied"))
            return reply(403, "", "Set-Cookie: auth=stolen\r\n");
        return reply(200, "",
                     "Set-Cookie: AUTH=\"x y\"   ; Path=/\r\n"
                     "Set-Cookie: csrf=" + long_token + "\r\n"
                     "Set-Cookie: flag\r\n");
    });
    auto s = conn_sess::create(mapped("127.4.1.2"), "Talvor Manager");
    EXPECT_EQ(get(s, "/denied"), 403);
    EXPECT_FALSE(s->cookie("auth"));
    EXPECT_EQ(get(s, "/ok"), 200);
    EXPECT_EQ(s->cookie("auth").value_or(""), "x y");
    EXPECT_EQ(s->cookie("csrf").value_or(""), long_token);
    EXPECT_FALSE(s->cookie("flag"));
}

TEST(HttpExchange, BodyReachingTheLimitFailsOneByteLessFits)
{
    const std::string body(3000, 'b');
    recording_unit unit("127.4.1.3", [&](const http_request& r) {
        if (r.line().starts_with("GET /chunked"))
            return std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                               "7d0\r\n") + body.substr(0, 2000) + "\r\n3e8\r\n" + body.substr(2000) + "\r\n0\r\n\r\n";
        return reply(200, body);
    });
    auto s = conn_sess::create(mapped("127.4.1.3"), "Talvor Manager");
    for (const std::string path : {"/plain", "/chunked"}) {
        SCOPED_TRACE(path);
        byte_vector out{1, 2, 3};
        http_exchange exact(s, false, path);
        ASSERT_EQ(exact.run(progress_range{}), 200);
        EXPECT_EQ(exact.read_body(out, body.size()), -1);
        EXPECT_TRUE(out.empty()); // nothing partial reaches the caller

        http_exchange fits(s, false, path);
        ASSERT_EQ(fits.run(progress_range{}), 200);
        EXPECT_EQ(fits.read_body(out, body.size() + 1), 0);
        EXPECT_EQ(text(out), body);
    }
}

TEST(HttpExchange, RefusedConnectionAndUnitStatusAndNoRedirect)
{
    auto nobody = conn_sess::create(mapped("127.4.1.4"), "Talvor Manager");
    EXPECT_EQ(get(nobody, "/XYZZY.ASD"), -975);

    recording_unit unit("127.4.1.5", [](const http_request&) {
        return reply(302, "", "Location: https://127.4.1.5/\r\n");
    });
    auto s = conn_sess::create(mapped("127.4.1.5"), "Talvor Manager");
    EXPECT_EQ(get(s, "/XYZZY.ASD"), 302);
    EXPECT_EQ(unit.requests().size(), 1u);
}

TEST(HttpExchange, UploadProgressZeroBytesIsHighBeforeTheReplyAndBodyArrivesWhole)
{
    progress_range range{0.25, 0.75, std::make_shared<progress_info_value>()};
    std::atomic<double> seen_at_request{-1};
    recording_unit unit("127.4.1.6", [&](const http_request& r) {
        if (r.body.empty()) {
            // The client sets the progress right after sending; give it a
            // bounded moment before answering.
            for (int i = 0; i < 5000 && range.value->get() != range.high; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            seen_at_request = range.value->get();
        }
        return reply(200, "");
    });
    auto s = conn_sess::create(mapped("127.4.1.6"), "Talvor Manager");
    {
        http_exchange empty(s, true, "/customise_file.action");
        ASSERT_EQ(empty.run(range), 200);
        EXPECT_EQ(seen_at_request.load(), 0.75);
    }

    range.value->set(0);
    // Larger than one write, so that writes span copied and in-place segments.
    byte_vector file(150000);
    for (std::size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<std::uint8_t>(i * 7);
    http_exchange up(s, true, "/config_set.action");
    up.add_segment(up.multipart_head());
    up.add_segment(std::string_view("3"));
    up.add_segment(up.multipart_separator());
    up.add_segment_in_place(file);
    up.add_segment(up.multipart_tail());
    ASSERT_EQ(up.run(range), 200);
    EXPECT_DOUBLE_EQ(range.value->get(), 0.75);
    const auto seen = unit.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].body, up.multipart_head() + "3" + up.multipart_separator() + text(file) + up.multipart_tail());
}

TEST(HttpExchange, MultipartBoundariesAreFreshAndWellFormed)
{
    auto s = conn_sess::create(mapped("127.4.1.7"), "Talvor Manager");
    http_exchange a(s, true, "/a");
    http_exchange b(s, true, "/a");
    const std::string& head = a.multipart_head();
    ASSERT_EQ(head.size(), 8u + 16u + 4u);
    EXPECT_TRUE(head.starts_with("--------") && head.ends_with("\r\n\r\n"));
    EXPECT_EQ(head.find_first_not_of("0123456789abcdef", 8), 24u);
    const std::string boundary = head.substr(0, 24);
    EXPECT_EQ(a.multipart_separator(), "\r\n" + boundary + "\r\n\r\n");
    EXPECT_EQ(a.multipart_tail(), "\r\n" + boundary + "--\r\n");
    EXPECT_NE(a.multipart_head(), b.multipart_head());
}

TEST(HttpExchange, CancelDuringUploadStopsWithinOnePiece)
{
    // A unit that drains slowly, so the upload blocks on a full socket.
    raw_server unit("127.4.1.8", [](raw_conn& c) {
        while (!c.read_some(1024).empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    auto s = conn_sess::create(mapped("127.4.1.8"), "Talvor Manager");
    progress_range range{0.0, 1.0, std::make_shared<progress_info_value>()};
    const std::size_t size = 32u << 20;
    std::atomic<double> after_cancel{-1};
    std::thread canceller([&] {
        for (int i = 0; i < 10000 && range.value->get() < 0.01; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        s->set_cancel(true);
        after_cancel = range.value->get();
    });
    http_exchange up(s, true, "/fw_net_file.action");
    up.add_segment(byte_vector(size, 0x5a));
    const int r = up.run(range);
    canceller.join();
    EXPECT_EQ(r, -998);
    EXPECT_LT(after_cancel.load(), 1.0);
    EXPECT_LE(range.value->get() - after_cancel.load(), 65536.0 / size + 1e-12); // one piece

    // The event stays set until reset: the next exchange does not even start.
    EXPECT_EQ(get(s, "/prog_get.action"), -998);
    EXPECT_EQ(unit.connections(), 1);
    s->set_cancel(false);
}

TEST(HttpExchange, CancelOrTimeOutWhileTheUnitIsSilent)
{
    std::atomic<int> got{0};
    raw_server unit("127.4.1.9", [&](raw_conn& c) {
        while (c.read_request())
            ++got;
    });
    auto s = conn_sess::create(mapped("127.4.1.9"), "Talvor Manager");
    std::thread canceller([&] {
        for (int i = 0; i < 10000 && got == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        s->set_cancel(true);
    });
    EXPECT_EQ(get(s, "/gen_conf_get.action"), -998);
    canceller.join();
    s->set_cancel(false);

    s->internals().timeouts.receive = std::chrono::milliseconds(100);
    EXPECT_EQ(get(s, "/gen_conf_get.action"), tcode::receive_error - 1000);
    EXPECT_EQ(got.load(), 2); // each request once, never resent
}

TEST(HttpExchange, KeepsTheConnectionOnlyAfterAWholeBodyAndReconnectsWhenClosed)
{
    // Closes each connection after its second request.
    std::atomic<int> closed{0};
    raw_server unit("127.4.1.10", [&](raw_conn& c) {
        for (int i = 0; i < 2; ++i) {
            if (!c.read_request())
                return;
            c.send(reply(200, "body-" + std::to_string(i)));
        }
        ::shutdown(c.fd(), SHUT_RDWR);
        ++closed;
    });
    auto s = conn_sess::create(mapped("127.4.1.10"), "Talvor Manager");
    byte_vector body;
    EXPECT_EQ(get(s, "/a", &body), 200);
    EXPECT_EQ(get(s, "/b", &body), 200);
    EXPECT_EQ(text(body), "body-1");
    EXPECT_EQ(unit.connections(), 1);
    // Let the unit's close arrive, then the next exchange quietly reconnects.
    for (int i = 0; i < 5000 && closed == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(get(s, "/c", &body), 200);
    EXPECT_EQ(text(body), "body-0");
    EXPECT_EQ(unit.connections(), 2);
    // A reply left unread is not followed by a request on its connection.
    EXPECT_EQ(get(s, "/d"), 200);
    EXPECT_EQ(get(s, "/e", &body), 200);
    EXPECT_EQ(text(body), "body-0");
    EXPECT_EQ(unit.connections(), 3);
    EXPECT_EQ(s->internals().links_opened, 3u);
}

TEST(HttpExchange, RequestIsNeverSentTwiceWhenTheUnitDropsIt)
{
    std::atomic<int> requests{0};
    raw_server unit("127.4.1.11", [&](raw_conn& c) {
        if (c.read_request())
            ++requests; // and close without a reply
    });
    auto s = conn_sess::create(mapped("127.4.1.11"), "Talvor Manager");
    http_exchange x(s, true, "/sdcard_clear.action");
    x.add_segment(std::string_view("sdcard_clear=1"));
    EXPECT_EQ(x.run(progress_range{}), tcode::receive_error - 1000);
    EXPECT_EQ(requests.load(), 1);
    EXPECT_EQ(unit.connections(), 1);
}

TEST(HttpExchange, ReadOnceTakesOneBoundedReadAndEmptyBodiesReadAsEmpty)
{
    recording_unit unit("127.4.1.12", [](const http_request& r) {
        return reply(200, r.line().starts_with("GET /empty") ? "" : "admin\r\n" + std::string(300, 'x'));
    });
    auto s = conn_sess::create(mapped("127.4.1.12"), "Talvor Manager");
    http_exchange x(s, true, "/auth_login.action");
    ASSERT_EQ(x.run(progress_range{}), 200);
    byte_vector role;
    ASSERT_EQ(x.read_once(role, 128), 0);
    ASSERT_FALSE(role.empty());
    EXPECT_LE(role.size(), 128u);
    EXPECT_TRUE(text(role).starts_with("admin"));

    for (const bool once : {false, true}) {
        http_exchange empty(s, false, "/empty");
        ASSERT_EQ(empty.run(progress_range{}), 200);
        byte_vector out{1};
        EXPECT_EQ(once ? empty.read_once(out, 128) : empty.read_body(out, 10), 0);
        EXPECT_TRUE(out.empty());
    }
}

TEST(HttpExchange, PathBytesCannotBreakTheRequestLine)
{
    recording_unit unit("127.4.1.13", [](const http_request&) { return reply(200, ""); });
    auto s = conn_sess::create(mapped("127.4.1.13"), "Talvor Manager");
    s->store_set_cookie("csrf=1 2\r\nX-Evil: 1");
    http_exchange x(s, true, "/reboot.action");
    ASSERT_EQ(x.run(progress_range{}), 200);
    const auto seen = unit.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].line(), "POST /reboot.action?1%202%0D%0AX-Evil:%201 HTTP/1.1");
}

} // namespace
} // namespace talvor
