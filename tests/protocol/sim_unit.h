#pragma once
// One simulated unit started in-process for a client test.
#include <filesystem>
#include <memory>
#include <string>

#include "simulator/hubsim.h"
#include "tests/protocol/hub_test_support.h"

namespace talvor::test {

struct sim_unit {
    std::filesystem::path dir;
    std::unique_ptr<sim::fleet_server> fleet;
    std::string name;

    // `unit_json`: one unit object of the fleet file, named `unit_name`.
    sim_unit(const std::string& unit_name, const std::string& unit_json)
        : dir(fresh_folder("sim-" + unit_name)), name(unit_name)
    {
        fleet = std::make_unique<sim::fleet_server>(R"({ "discovery" : "off", "units" : [ )" + unit_json + " ] }", dir);
    }
    ~sim_unit()
    {
        fleet.reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    // A trust folder holding only the simulator's authority.
    std::filesystem::path trust_authority() const
    {
        const auto folder = fresh_folder("trust-" + name);
        std::filesystem::copy_file(fleet->ca_cert_path(), folder / "authority.pem");
        return folder;
    }
};

} // namespace talvor::test
