#pragma once
// What the main window owns below its widgets: the units, busy_units, the
// window's own worker (discovery), and the handling of the window messages.
// The GUI and the command-line front end drive the same object; they are
// told through unit_listener what to show.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/app_settings.h"
#include "inventory/connection_worker.h"
#include "inventory/dialogs.h"
#include "inventory/unit_group.h"
#include "inventory/window_bridge.h"
#include "operations/busy_units.h"
#include "operations/not_added.h"
#include "transport/job_thread.h"

namespace talvor {

class do_discover;

// A unit a refresh removed, as it was just before it is destroyed. A
// duplicate may already have been shown: the listener takes it out again.
struct removed_unit {
    const CHubDevice* unit = nullptr; // for lookups only; destroyed right after
    std::string address;              // address text
    std::string label;
    std::string serial;               // empty when never read
    int protocol = 0;                 // protocol_http, protocol_wss, 0 when not known
    unit_failure reason = unit_failure::none;
    std::string detail;               // "duplicate of <label of the unit kept>"; else empty
    std::uint32_t problems = 0;       // the security problems refused, for security_refused
};

// The front end's side. Every call comes on the UI thread.
class unit_listener {
public:
    virtual ~unit_listener() = default;
    // A refresh succeeded: show the unit (tree insertion).
    virtual void unit_ready(CHubDevice&) {}
    // A refresh failed or found a duplicate; the unit goes right after.
    virtual void unit_removed(const removed_unit&) {}
    // A refresh was queued (busy_units grew).
    virtual void refresh_queued(CHubDevice&) {}
    // not_added() has changed.
    virtual void not_added_changed() {}
    // A discovery run has ended; command states may change.
    virtual void discovery_finished() {}
    // A job of another kind than refresh has reported (busy_units updated).
    virtual void job_finished(CHubDevice&) {}
    // An address list file was read and its addresses queued.
    virtual void list_loaded(const std::filesystem::path&) {}
};

enum class add_result { empty, invalid, added, duplicate };

class unit_manager final : public message_target {
public:
    // Becomes the bridge's target. `listener` may be null.
    unit_manager(window_bridge& bridge, dialogs& ui, AppSettings& settings, unit_listener* listener = nullptr);
    // Shuts down (below) if not done yet.
    ~unit_manager() override;
    unit_manager(const unit_manager&) = delete;
    unit_manager& operator=(const unit_manager&) = delete;

    unit_group& group() { return *group_; }
    busy_units& busy() { return busy_; }
    job_thread& window_worker() { return *window_worker_; }
    // What every unit job needs; its factory may be replaced before the
    // first unit is added (tests).
    connection_env& env() { return env_; }
    void set_listener(unit_listener* listener) { listener_ = listener; }

    // Commands (UI thread).
    // Starts discovery; false when it did nothing (disabled, or running).
    bool discover();
    bool discovery_running() const { return window_worker_->pending() != 0; }
    // The Add Device box; shows "IP address is invalid" itself.
    add_result add_device(std::string_view box_text);
    // Loads an address list, reporting errors itself; 0 or -1.
    int load_address_list(const std::filesystem::path& path);
    // Adds addresses already read, in their order, as a list's are added.
    void add_addresses(const std::vector<ip_address>& addresses);
    // Add Multiple: asks for the file, then loads it. false when cancelled.
    bool add_multiple();
    // The Refresh command: every unit whose worker is free drops its TAPs,
    // selection, tree node and session, and is read again. Refused (false)
    // while a batch runs. The front end clears its tree and list first.
    bool refresh_all();
    // Queues the first refresh of a unit just added (guarded dispatch); with
    // `new_session` the job drops the unit's session before it starts.
    bool queue_refresh(CHubDevice& unit, bool new_session = false);
    // No unit job outstanding and no discovery running.
    bool idle() const { return busy_.empty() && !discovery_running(); }
    // Whether the user may take the unit off the list now: not while any
    // unit job is outstanding (a batch's outcomes point at its units).
    bool can_remove(const CHubDevice& unit) const;
    // Takes a listed unit off the list, as a failed refresh would but
    // without a word in not_added(): the front end has dropped its tree
    // nodes first. False (nothing done) when can_remove does not hold.
    bool remove_listed(CHubDevice& unit);

    // The window messages.
    std::intptr_t handle_message(const window_message& message, message_reply& reply) override;
    // WM_UNIT_FOUND; also called directly for each listed address
    // (`listed`): only then is an address already listed worth a word, as
    // every discovery run finds the known units again.
    std::intptr_t on_unit_found(std::uintptr_t n, const unit_address& where, bool listed = false);
    // Addresses that were to be added or read again but are not listed,
    // each with why; the front end shows them and may clear them.
    const not_added_list& not_added() const { return not_added_; }
    void clear_not_added();
    // Handlers other layers install: messages this object does not handle
    // (file drops of operations), and completions of other job kinds after
    // the common steps (busy_units already updated).
    std::function<std::intptr_t(const window_message&, message_reply&)> other_message;
    std::function<void(CHubDevice&)> other_job_done;

    // Refuses further window calls (waiting ones answer as cancelled),
    // stops discovery, cancels every unit and joins every worker. The units
    // stay listed until this object goes. UI thread.
    void shut_down();
    bool shutting_down() const { return shutting_down_; }

private:
    void on_unit_job_done(CHubDevice& unit, message_reply& reply);
    // The handling of a report once its job has returned (UI thread).
    void job_reported(CHubDevice& unit);
    void on_discovery_done(message_reply& reply);
    int ask_password(const login_prompt& unit, byte_vector& out);
    int ask_security(const login_prompt& unit, std::uint32_t problems);
    // `kept`: for a duplicate, the unit it was found to be.
    void remove_after_refresh(CHubDevice& unit, unit_failure reason, const CHubDevice* kept = nullptr);
    void note_not_added(std::string address, unit_failure reason, std::uint32_t problems = 0, std::string detail = {});
    // The other idle units that are this one, in the group's order.
    std::vector<CHubDevice*> listed_elsewhere(const CHubDevice& unit) const;
    bool listed_before(const CHubDevice& a, const CHubDevice& b) const;
    // Each Add, list and discovery run asks again.
    void reset_security_answer();

    window_bridge& bridge_;
    dialogs& ui_;
    AppSettings& settings_;
    unit_listener* listener_;
    connection_env env_;
    std::unique_ptr<unit_group> group_;
    busy_units busy_;
    not_added_list not_added_;
    std::unique_ptr<job_thread> window_worker_;
    std::mutex discovery_lock_;
    std::shared_ptr<do_discover> discovery_; // the run in progress, for shut_down
    bool shutting_down_ = false;
    // Work handed to the UI thread from a worker holds it weakly: it may
    // arrive after this object has gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace talvor
