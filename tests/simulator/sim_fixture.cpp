#include "sim_fixture.h"

#include "protocol/key_derivation.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace simtest {

std::unique_ptr<talvor::sim::fleet_server> start(const std::string& fleet_json)
{
    static std::atomic<int> n{0};
    auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "fleet";
    auto dir = std::filesystem::temp_directory_path() /
               ("hubsim-" + name + "-" + std::to_string(::getpid()) + "-" + std::to_string(n++));
    std::filesystem::remove_all(dir);
    return std::make_unique<talvor::sim::fleet_server>(fleet_json, dir);
}

std::string demo_fleet_on(const std::string& prefix)
{
    std::ifstream in(std::string(TALVOR_SOURCE_DIR) + "/demo/fleet.json");
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    const std::string from = "\"127.77.0.";
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + 1))
        text.replace(at + 1, from.size() - 1, prefix);
    return text;
}

std::string demo_password()
{
    std::ifstream in(std::string(TALVOR_SOURCE_DIR) + "/demo/password");
    std::string line;
    std::getline(in, line);
    return line;
}

std::string json_string(const std::string& text, const std::string& key)
{
    std::string pattern = "\"" + key + "\":\"";
    auto at = text.find(pattern);
    if (at == std::string::npos)
        return {};
    at += pattern.size();
    return text.substr(at, text.find('"', at) - at);
}

namespace {

std::string response_hex(const std::string& address, const std::string& password)
{
    auto ch = wire::http(address, "GET", "/challenge_get.action");
    std::string challenge = json_string(ch.body, "challenge"), salt = json_string(ch.body, "salt");
    auto key = talvor::derive_f(password, salt);
    return talvor::hex_lower(talvor::derive_f(key, challenge));
}

} // namespace

wire::http_answer http_login(const std::string& address, const std::string& password, const std::string& csrf)
{
    std::string body = "pass=" + response_hex(address, password);
    return wire::http(address, "POST", "/auth_login.action" + (csrf.empty() ? "" : "?" + csrf), body);
}

wire::http_answer http_logout(const std::string& address, const std::string& password, const std::string& csrf)
{
    std::string body = "pass=" + response_hex(address, password);
    return wire::http(address, "POST", "/auth_logout.action?" + csrf, body);
}

std::string cookie(const wire::http_answer& a, const std::string& name)
{
    for (auto& c : a.all("Set-Cookie"))
        if (c.compare(0, name.size() + 1, name + "=") == 0)
            return c.substr(name.size() + 1, c.find(';') - name.size() - 1);
    return {};
}

std::string envelope(int id, const std::string& request, const std::string& data)
{
    std::string s = "{ \"_id\" : " + std::to_string(id) + ", \"request\" : \"" + request + "\"";
    if (!data.empty())
        s += ", \"data\" : " + data;
    return s + " }";
}

std::string wss_key_hex(const std::string& password, const std::string& salt)
{
    return talvor::hex_lower(talvor::derive_f(password, salt));
}

} // namespace simtest
