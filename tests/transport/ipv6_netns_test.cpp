// IPv6 units, reached inside a network namespace of this test's own so
// that its ::1 is nobody else's.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "raw_server.h"
#include "tests/connect/netns.h"
#include "tests/support/wss_unit.h"
#include "transport/conn_sess.h"

namespace talvor {
namespace {

TEST(Ipv6Unit, ReachedWithABracketedHostAndCheckedAgainstItsSixteenByteAddress)
{
    char pattern[] = "/tmp/talvor-trust6-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    set_trusted_folder(pattern);
    test::test_authority authority;
    ASSERT_EQ(trust_certificate(authority.der()), 0);

    bool isolated = false;
    int status = 0;
    std::string head;
    int open_right = -1, open_wrong = -1;
    std::uint32_t found_wrong = 0;
    std::thread worker([&] {
        if (!test::isolate_thread())
            return;
        isolated = true;
        ip_address loopback{};
        loopback[15] = 1;
        {
            std::string seen;
            test::raw_server unit("::1", [&](test::raw_conn& c) {
                if (auto r = c.read_request()) {
                    seen = r->head;
                    c.send(test::reply(404, ""));
                }
            });
            http_exchange probe(conn_sess::create(loopback, "Talvor Manager"), false, "/XYZZY.ASD");
            status = probe.run(progress_range{});
            head = seen;
        }
        {
            test::wss_unit unit("::1", authority.issue(test::cert_options{"::1"}), test::unit_mode::echo);
            ws_socket ws(conn_sess::create(loopback, "Talvor Manager"));
            std::uint32_t found = 0;
            open_right = ws.open(0, found);
        }
        {
            // The IPv4-mapped form of 127.0.0.1 is not ::1's certificate.
            test::wss_unit unit("::1", authority.issue(test::cert_options{"127.0.0.1"}), test::unit_mode::echo);
            ws_socket ws(conn_sess::create(loopback, "Talvor Manager"));
            open_wrong = ws.open(0, found_wrong);
        }
    });
    worker.join();
    std::filesystem::remove_all(pattern);
    if (!isolated)
        GTEST_SKIP() << "no network namespace available";
    EXPECT_EQ(status, 404);
    EXPECT_EQ(head, "GET /XYZZY.ASD HTTP/1.1\r\nHost: [::1]\r\nUser-Agent: Talvor Manager\r\n\r\n");
    EXPECT_EQ(open_right, tcode::ok);
    EXPECT_EQ(open_wrong, tcode::certificate_problem);
    EXPECT_EQ(found_wrong, problem_identity);
}

} // namespace
} // namespace talvor
