#include "simulator/hubsim.h"

#include "simulator/certs.h"
#include "simulator/listeners.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/json.hpp>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace net = boost::asio;

namespace talvor::sim {

struct fleet_server::impl {
    // Declared first so it is destroyed last: the sessions its handlers own
    // close their sockets while it still exists.
    net::io_context ioc;
    std::optional<net::executor_work_guard<net::io_context::executor_type>> work;
    std::vector<std::thread> threads;
    std::shared_ptr<shared_ctx> ctx;
    std::vector<std::shared_ptr<unit>> units;
    std::filesystem::path ca_path;
    std::string ca_der;

    unit& find(std::string_view name) const
    {
        for (auto& u : units)
            if (u->cfg.name == name)
                return *u;
        throw std::invalid_argument("no unit named \"" + std::string(name) + "\"");
    }

    void stop()
    {
        work.reset();
        ioc.stop();
        for (auto& t : threads)
            if (t.joinable())
                t.join();
        threads.clear();
    }
};

fleet_server::fleet_server(std::string_view fleet_json, const std::filesystem::path& work_dir)
    : impl_(std::make_unique<impl>())
{
    fleet_config fleet = parse_fleet(fleet_json);
    std::error_code fec;
    std::filesystem::create_directories(work_dir, fec);
    if (fec)
        throw std::runtime_error("cannot create " + work_dir.string() + ": " + fec.message());
    auto& m = *impl_;
    m.ctx = std::make_shared<shared_ctx>(work_dir / "requests.jsonl", fleet.wire_check);

    // Kept for regenerated fallback certificates.
    auto ca = std::make_shared<test_ca>();
    auto ca_lock = std::make_shared<std::mutex>();
    m.ca_der = ca->cert_der();
    m.ca_path = work_dir / "ca.pem";
    {
        std::ofstream out(m.ca_path, std::ios::binary | std::ios::trunc);
        out << ca->cert_pem();
        if (!out)
            throw std::runtime_error("cannot write " + m.ca_path.string());
    }

    try {
        for (auto& cfg : fleet.units) {
            auto u = std::make_shared<unit>(cfg);
            m.units.push_back(u);
            if (u->cfg.kind == unit_kind::http || u->cfg.port80 != 0)
                listen_http(m.ioc, u, m.ctx);
            if (u->cfg.kind == unit_kind::wss) {
                const std::string address = u->cfg.address;
                const cert_kind kind = u->cfg.cert;
                u->set_fallback_cert(ca->issue(address, kind), [ca, ca_lock, address, kind] {
                    std::lock_guard g(*ca_lock);
                    return ca->issue(address, kind);
                });
                listen_wss(m.ioc, u, m.ctx);
            }
        }
        start_discovery(m.ioc, m.units, m.ctx, fleet.discovery);
    } catch (...) {
        m.stop();
        throw;
    }
    m.work.emplace(m.ioc.get_executor());
    for (int i = 0; i < fleet.threads; ++i)
        m.threads.emplace_back([&m] {
            // One bad request must not take the whole fleet down.
            for (;;) {
                try {
                    m.ioc.run();
                    return;
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "talvor-hubsim: request handler failed: %s\n", e.what());
                }
            }
        });
}

std::unique_ptr<fleet_server> fleet_server::from_file(const std::filesystem::path& fleet_file,
                                                      const std::filesystem::path& work_dir)
{
    std::ifstream in(fleet_file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + fleet_file.string());
    std::stringstream text;
    text << in.rdbuf();
    return std::make_unique<fleet_server>(text.str(), work_dir);
}

fleet_server::~fleet_server()
{
    impl_->stop();
}

std::vector<std::string> fleet_server::unit_names() const
{
    std::vector<std::string> out;
    for (auto& u : impl_->units)
        out.push_back(u->cfg.name);
    return out;
}

std::vector<std::string> fleet_server::describe() const
{
    std::vector<std::string> out;
    for (auto& u : impl_->units)
        out.push_back(u->cfg.name + " " + u->cfg.address + " " + (u->cfg.kind == unit_kind::http ? "http" : "wss"));
    return out;
}

std::filesystem::path fleet_server::ca_cert_path() const { return impl_->ca_path; }
std::string fleet_server::ca_cert_der() const { return impl_->ca_der; }
std::string fleet_server::unit_cert_der(std::string_view unit) const
{
    return impl_->find(unit).served_cert().second.cert_der;
}

std::vector<request_entry> fleet_server::requests() const { return impl_->ctx->log.all(); }
std::vector<request_entry> fleet_server::requests(std::string_view unit) const { return impl_->ctx->log.of(unit); }
void fleet_server::clear_requests() { impl_->ctx->log.clear(); }
std::filesystem::path fleet_server::log_path() const { return impl_->ctx->log.path(); }

std::vector<unit_event> fleet_server::events(std::string_view unit) const { return impl_->find(unit).events(); }
std::string fleet_server::last_upload(std::string_view unit, std::string_view kind) const
{
    return impl_->find(unit).last_upload(kind);
}

std::string fleet_server::password(std::string_view unit) const { return impl_->find(unit).password(); }
bool fleet_server::password_matches(std::string_view unit, std::string_view candidate) const
{
    return impl_->find(unit).password_matches(candidate);
}
void fleet_server::set_password(std::string_view unit, std::string_view password)
{
    impl_->find(unit).set_password(password);
}

void fleet_server::set_fault(std::string_view unit, std::string_view fault, std::string_view value_json)
{
    boost::json::error_code ec;
    auto value = boost::json::parse(value_json, ec);
    if (ec)
        throw std::invalid_argument("fault value is not JSON: " + std::string(value_json));
    impl_->find(unit).set_fault(fault, value);
}

std::uint16_t fleet_server::register_value(std::string_view unit, int reg) const
{
    return impl_->find(unit).register_value(reg);
}
void fleet_server::set_register(std::string_view unit, int reg, std::uint16_t value)
{
    impl_->find(unit).write_registers(reg, {value});
}

} // namespace talvor::sim
