#pragma once
// A unit manager driven by the test's own thread as the UI thread, with
// scripted dialogs and clients from a table of fake units.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "inventory/unit_address.h"
#include "inventory/window_bridge_headless.h"
#include "operations/unit_manager.h"
#include "tests/support/fake_hub.h"
#include "tests/connect/scripted_dialogs.h"

namespace talvor::test {

struct recording_listener final : unit_listener {
    std::vector<std::string> ready;             // labels
    std::vector<removed_unit> removed;
    int discoveries = 0;
    void unit_ready(CHubDevice& unit) override { ready.push_back(unit.label); }
    void unit_removed(const removed_unit& info) override
    {
        removed.push_back(info);
        removed.back().unit = nullptr;
    }
    void discovery_finished() override { ++discoveries; }
    const removed_unit* removal_of(const std::string& address) const
    {
        for (const auto& r : removed)
            if (r.address == address)
                return &r;
        return nullptr;
    }
};

inline ip_address v4(const std::string& text)
{
    unsigned b[4];
    std::sscanf(text.c_str(), "%u.%u.%u.%u", &b[0], &b[1], &b[2], &b[3]);
    return ipv4_mapped(static_cast<std::uint8_t>(b[0]), static_cast<std::uint8_t>(b[1]),
                       static_cast<std::uint8_t>(b[2]), static_cast<std::uint8_t>(b[3]));
}

class connect_fixture : public ::testing::Test {
protected:
    headless_bridge bridge;
    scripted_dialogs ui;
    AppSettings settings;
    recording_listener listener;
    std::map<ip_address, std::shared_ptr<fake_unit>> fakes;
    std::unique_ptr<unit_manager> manager;

    void SetUp() override
    {
        manager = std::make_unique<unit_manager>(bridge, ui, settings, &listener);
        manager->env().factory = [this](std::shared_ptr<conn_sess> s, int tls) -> probe_result {
            auto it = fakes.find(s->address());
            if (it == fakes.end())
                return nullptr;
            if (!it->second->answers_probe)
                return probe_result::no_answer();
            return std::unique_ptr<zt_hub>(std::make_unique<fake_hub>(it->second, tls));
        };
    }
    void TearDown() override { manager.reset(); }

    std::shared_ptr<fake_unit> fake(const std::string& address)
    {
        auto u = std::make_shared<fake_unit>();
        fakes[v4(address)] = u;
        return u;
    }
    // Pumps the window loop until nothing is outstanding (bounded).
    bool settle() { return bridge.run_until([&] { return manager->idle(); }, std::chrono::seconds(30)); }
    std::size_t listed() const { return manager->group().units().size(); }
};

} // namespace talvor::test
