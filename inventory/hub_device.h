#pragma once
// The record of one managed hub unit: how it is reached, what it reported
// about itself, its TAPs, capability bits, job state and its own worker.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "inventory/code_tables.h"
#include "inventory/ensure_login_state.h"
#include "inventory/tap_device.h"
#include "inventory/tree_node.h"
#include "inventory/unit_address.h"
#include "protocol/zt_hub.h"
#include "transport/job_thread.h"
#include "transport/progress.h"

namespace talvor {

class unit_group;

// job_result values.
inline constexpr int job_succeeded = 0;
inline constexpr int job_failed = 1;
inline constexpr int job_running = 2;

class CHubDevice {
public:
    // Starts the unit's worker. Records are normally made by unit_group::add_unit.
    CHubDevice(unit_group& owner, const unit_address& where);
    // Cancels the session's waits and joins the worker before anything a
    // running job may still use (session, TAPs, categories) is freed.
    ~CHubDevice();
    CHubDevice(const CHubDevice&) = delete;
    CHubDevice& operator=(const CHubDevice&) = delete;

    int excluded = 0;
    // Job state: written by the unit's jobs, read by the UI thread.
    std::atomic<int> job_kind{0};
    std::atomic<int> job_result{job_running};
    std::atomic<int> job_done{0};
    progress_range job_progress;
    // Written by the job before job_done: why it failed, or what a job that
    // succeeded has to add ("uploaded, verification cancelled"); whether a
    // failure came while the job was asked to cancel; the file it wrote.
    std::string job_reason;
    bool job_cancelled = false;
    std::filesystem::path job_file;
    version_triple sys_version;
    tree_node tree_item = no_tree_node;
    std::uint32_t capabilities = 0;
    // Capability bits taken away because what they need could not be read
    // (a later refresh may bring them back).
    std::uint32_t capabilities_lost = 0;
    int system_type = system_unknown;
    std::string label; // UTF-8 throughout
    std::string text_id;
    std::string serial;
    std::string description;
    version_triple net_version;
    int product_class = class_unknown;
    int cwm_variant = 0;
    int sd_card_gb = 0;
    mac_address mac = unknown_mac;
    ip_address address{};
    int config_version = 0;
    unit_group* group;
    int selected = 0;
    std::vector<int> bus_sizes;
    std::unique_ptr<job_thread> worker;
    std::unique_ptr<zt_hub> hub; // created on first use by the connection worker
    std::vector<std::unique_ptr<CTapDevice>> taps;
    std::vector<std::pair<int, int>> config_categories; // (category id, value)
    unit_login_state login; // the connection worker's per-unit state

    // Sets the job state and resets job_progress to 0.0..1.0, value 0.0.
    void set_job_state(int kind, int result, int done);
    // The unit's identity as found or as its MAC has since become known.
    unit_address identity() const;
    std::string address_string() const { return address_text(address); }
};

} // namespace talvor
