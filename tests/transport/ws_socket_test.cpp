#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <openssl/evp.h>

#include "raw_server.h"
#include "tests/support/wss_unit.h"
#include "transport/conn_sess.h"
#include "transport/conn_sess_impl.h"

namespace talvor {
namespace {

using test::cert_options;
using test::mapped;
using test::unit_mode;
using test::wss_unit;

std::span<const std::uint8_t> bytes(std::string_view s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Every test trusts its own authority through a folder of its own.
class WsSocket : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/talvor-trust-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        set_trusted_folder(folder_);
        ASSERT_EQ(trust_certificate(authority_.der()), 0);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    test::test_authority authority_;
    std::string folder_;
};

TEST_F(WsSocket, TrustedUnitOpensCarriesMessagesAndShowsItsCertificate)
{
    const auto cert = authority_.issue(cert_options{"127.4.2.1"});
    wss_unit unit("127.4.2.1", cert, unit_mode::echo);
    auto s = conn_sess::create(mapped("127.4.2.1"), "Talvor Manager");
    ws_socket ws(s);
    std::uint32_t found = 99;
    ASSERT_EQ(ws.open(0, found), tcode::ok);
    EXPECT_EQ(found, 0u);
    EXPECT_EQ(unit.user_agent(), "Talvor Manager");
    EXPECT_EQ(ws.server_certificate(), cert.der);
    EXPECT_EQ(ws.open(0, found), tcode::socket_already_open);

    byte_vector message;
    bool overflow = true;
    ASSERT_EQ(ws.send(bytes("{\"request\":\"auth_salt.action\"}")), tcode::ok);
    ASSERT_EQ(ws.receive(message, 256, overflow), tcode::ok);
    EXPECT_FALSE(overflow);
    EXPECT_EQ(std::string(message.begin(), message.end()), "{\"request\":\"auth_salt.action\"}");

    // Longer than the caller's room: read to its end and dropped, so the
    // next reply is read from its start.
    ASSERT_EQ(ws.send(byte_vector(100000, 'z')), tcode::ok);
    ASSERT_EQ(ws.receive(message, 1000, overflow), tcode::ok);
    EXPECT_TRUE(overflow);
    EXPECT_TRUE(message.empty());
    ASSERT_EQ(ws.send(bytes("next")), tcode::ok);
    ASSERT_EQ(ws.receive(message, 4, overflow), tcode::ok); // exactly the room is no overflow
    EXPECT_FALSE(overflow);
    EXPECT_EQ(std::string(message.begin(), message.end()), "next");

    ws.close();
    EXPECT_FALSE(ws.is_open());
    EXPECT_TRUE(ws.server_certificate().empty());
    EXPECT_EQ(ws.send(bytes("x")), tcode::no_socket);
    EXPECT_EQ(ws.receive(message, 10, overflow), tcode::no_socket);
}

TEST_F(WsSocket, EachCertificateProblemYieldsExactlyItsBitsAndAcceptingThemOpens)
{
    test::test_authority stranger("Stranger Authority"); // never trusted
    struct problem_case {
        const char* what;
        cert_options options;
        bool by_stranger;
        std::uint32_t bits;
    };
    const problem_case cases[] = {
        {"expired", {"127.4.2.10", -30, -1}, false, problem_invalid},
        {"not yet valid", {"127.4.2.11", 2, 30}, false, problem_invalid},
        {"wrong name", {"127.4.2.99"}, false, problem_identity},
        {"self-signed", {"127.4.2.13", -1, 365, true, true}, false, problem_untrusted},
        {"unknown authority", {"127.4.2.14"}, true, problem_untrusted},
        {"client usage only", {"127.4.2.15", -1, 365, false}, false, problem_invalid},
        {"expired and self-signed", {"127.4.2.16", -30, -1, true, true}, false, problem_untrusted | problem_invalid},
        {"all three", {"127.4.2.98", -30, -1, false}, true, problem_identity | problem_untrusted | problem_invalid},
    };
    int index = 10;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string ip = "127.4.2." + std::to_string(index++);
        wss_unit unit(ip, (c.by_stranger ? stranger : authority_).issue(c.options), unit_mode::echo);
        auto s = conn_sess::create(mapped(ip), "Talvor Manager");
        ws_socket ws(s);
        std::uint32_t found = 0;
        EXPECT_EQ(ws.open(0, found), tcode::certificate_problem);
        EXPECT_EQ(found, c.bits);
        EXPECT_FALSE(ws.is_open());
        // Accepting some of them reports only the rest.
        if (c.bits & problem_identity) {
            EXPECT_EQ(ws.open(problem_identity, found) == tcode::ok, c.bits == problem_identity);
            EXPECT_EQ(found, c.bits & ~problem_identity);
            ws.close();
        }
        ASSERT_EQ(ws.open(c.bits, found), tcode::ok);
        EXPECT_EQ(found, 0u);
        byte_vector echo;
        bool overflow = false;
        ASSERT_EQ(ws.send(bytes("ping")), tcode::ok);
        ASSERT_EQ(ws.receive(echo, 16, overflow), tcode::ok);
        // Refused handshakes never reached the upgrade.
        EXPECT_EQ(unit.upgrades(), c.bits == problem_identity ? 2 : 1);
    }
}

TEST_F(WsSocket, TrustedLeafOpensAndOtherFailuresAreNeverAcceptable)
{
    const auto leaf = authority_.issue(cert_options{"127.4.2.30", -1, 365, true, true});
    EXPECT_EQ(trust_certificate(leaf.der), 0);
    EXPECT_EQ(trust_certificate(leaf.der), 0); // a second time keeps one file
    EXPECT_EQ(trust_certificate(bytes("not a certificate")), -1);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder_))
        ++files;
    EXPECT_EQ(files, 2u);
    {
        wss_unit unit("127.4.2.30", leaf, unit_mode::echo);
        ws_socket ws(conn_sess::create(mapped("127.4.2.30"), "Talvor Manager"));
        std::uint32_t found = 0;
        EXPECT_EQ(ws.open(0, found), tcode::ok);
    }

    cert_options forged{"127.4.2.31"};
    forged.bad_signature = true;
    wss_unit unit("127.4.2.31", authority_.issue(forged), unit_mode::echo);
    ws_socket ws(conn_sess::create(mapped("127.4.2.31"), "Talvor Manager"));
    std::uint32_t found = 0;
    const int r = ws.open(problem_identity | problem_untrusted | problem_invalid, found);
    EXPECT_NE(r, tcode::ok);
    EXPECT_NE(r, tcode::certificate_problem);
    EXPECT_FALSE(ws.is_open());
    EXPECT_EQ(unit.upgrades(), 0);
}

// The system's authorities count as trusted (SSL_CERT_FILE stands in for
// the system bundle); a fresh folder makes the context be built again.
TEST_F(WsSocket, AuthorityOfTheSystemBundleIsTrusted)
{
    const byte_vector& der = authority_.der();
    std::string b64(4 * ((der.size() + 2) / 3) + 1, '\0');
    b64.resize(static_cast<std::size_t>(
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(b64.data()), der.data(), static_cast<int>(der.size()))));
    std::string pem = "-----BEGIN CERTIFICATE-----\n";
    for (std::size_t at = 0; at < b64.size(); at += 64)
        pem += b64.substr(at, 64) + "\n";
    pem += "-----END CERTIFICATE-----\n";
    const std::string bundle = folder_ + "-bundle.pem";
    std::ofstream(bundle) << pem;
    const std::string empty = folder_ + "/empty";
    std::filesystem::create_directory(empty);

    const auto cert = authority_.issue(cert_options{"127.4.2.35"});
    wss_unit unit("127.4.2.35", cert, unit_mode::echo);
    setenv("SSL_CERT_FILE", bundle.c_str(), 1);
    set_trusted_folder(empty);
    ws_socket ws(conn_sess::create(mapped("127.4.2.35"), "Talvor Manager"));
    std::uint32_t found = 0;
    EXPECT_EQ(ws.open(0, found), tcode::ok);
    EXPECT_EQ(found, 0u);
    unsetenv("SSL_CERT_FILE");
    std::filesystem::remove(bundle);
}

TEST_F(WsSocket, RefusedDeclinedClosedCancelledAndSilentUnits)
{
    auto nobody = conn_sess::create(mapped("127.4.2.40"), "Talvor Manager");
    ws_socket refused(nobody);
    std::uint32_t found = 0;
    EXPECT_EQ(refused.open(0, found), tcode::connection_refused);

    {
        wss_unit unit("127.4.2.41", authority_.issue(cert_options{"127.4.2.41"}), unit_mode::decline_upgrade);
        ws_socket ws(conn_sess::create(mapped("127.4.2.41"), "Talvor Manager"));
        EXPECT_EQ(ws.open(0, found), tcode::upgrade_refused);
        EXPECT_FALSE(ws.is_open());
    }
    byte_vector message;
    bool overflow = false;
    {
        wss_unit unit("127.4.2.42", authority_.issue(cert_options{"127.4.2.42"}), unit_mode::close_on_message);
        ws_socket ws(conn_sess::create(mapped("127.4.2.42"), "Talvor Manager"));
        ASSERT_EQ(ws.open(0, found), tcode::ok);
        ASSERT_EQ(ws.send(bytes("bye")), tcode::ok);
        EXPECT_EQ(ws.receive(message, 256, overflow), tcode::ws_closed_by_unit);
        EXPECT_FALSE(ws.is_open());
    }
    wss_unit unit("127.4.2.43", authority_.issue(cert_options{"127.4.2.43"}), unit_mode::silent);
    auto s = conn_sess::create(mapped("127.4.2.43"), "Talvor Manager");
    ws_socket ws(s);
    ASSERT_EQ(ws.open(0, found), tcode::ok);
    ASSERT_EQ(ws.send(bytes("hello")), tcode::ok);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        s->set_cancel(true);
    });
    EXPECT_EQ(ws.receive(message, 256, overflow), tcode::cancelled);
    canceller.join();
    EXPECT_FALSE(ws.is_open());
    EXPECT_EQ(ws.open(0, found), tcode::cancelled);
    s->set_cancel(false);

    s->internals().timeouts.receive = std::chrono::milliseconds(100);
    ASSERT_EQ(ws.open(0, found), tcode::ok);
    ASSERT_EQ(ws.send(bytes("hello")), tcode::ok);
    EXPECT_EQ(ws.receive(message, 256, overflow), tcode::ws_receive_error);
    EXPECT_FALSE(ws.is_open());
}

// The send limit applies to a stretch without progress, not to the message.
TEST_F(WsSocket, SlowReaderTakesALongMessageAndAStalledOneFails)
{
    for (const unit_mode mode : {unit_mode::slow_reader, unit_mode::no_reads}) {
        const std::string ip = mode == unit_mode::slow_reader ? "127.4.2.60" : "127.4.2.61";
        wss_unit unit(ip, authority_.issue(cert_options{ip}), mode);
        auto s = conn_sess::create(mapped(ip), "Talvor Manager");
        // The slow reader's pauses add up to over a second, far beyond its
        // limit; the limit itself leaves room for a loaded machine.
        s->internals().timeouts.send = std::chrono::milliseconds(mode == unit_mode::slow_reader ? 400 : 100);
        ws_socket ws(s);
        std::uint32_t found = 0;
        ASSERT_EQ(ws.open(0, found), tcode::ok);
        const byte_vector big(mode == unit_mode::slow_reader ? 8u << 20 : 16u << 20, 'u');
        if (mode == unit_mode::no_reads) {
            EXPECT_EQ(ws.send(big), tcode::ws_send_error);
            EXPECT_FALSE(ws.is_open());
            continue;
        }
        ASSERT_EQ(ws.send(big), tcode::ok);
        byte_vector reply;
        bool overflow = false;
        ASSERT_EQ(ws.receive(reply, 64, overflow), tcode::ok);
        EXPECT_EQ(std::string(reply.begin(), reply.end()), std::to_string(big.size()));
    }
}

TEST_F(WsSocket, CarriesAMessageBeyondSixteenMebibytes)
{
    wss_unit unit("127.4.2.50", authority_.issue(cert_options{"127.4.2.50"}), unit_mode::echo);
    ws_socket ws(conn_sess::create(mapped("127.4.2.50"), "Talvor Manager"));
    std::uint32_t found = 0;
    ASSERT_EQ(ws.open(0, found), tcode::ok);
    byte_vector big(0x1000000 + 40);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 31 + 7);
    ASSERT_EQ(ws.send(big), tcode::ok);
    byte_vector message;
    bool overflow = true;
    ASSERT_EQ(ws.receive(message, big.size(), overflow), tcode::ok);
    EXPECT_FALSE(overflow);
    EXPECT_TRUE(message == big);
}

} // namespace
} // namespace talvor
