#pragma once
// What every administrative command shares: eligibility, the partial-support
// question and the word confirmation, the dispatch of one job per unit, the
// progress window and the completion of the jobs. This is the main window's
// half below its widgets; the window, talvorctl and the tests each own one
// batch_context over their unit_manager and call the same commands.
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "inventory/connection_worker.h"
#include "inventory/dialogs.h"
#include "inventory/hub_device.h"
#include "operations/config_compare.h"
#include "operations/dispatch_job.h"
#include "operations/firmware_cache.h"
#include "operations/unit_manager.h"

namespace talvor {

// job_kind of each command (refresh is 1).
inline constexpr int job_kind_restart = 2;
inline constexpr int job_kind_config_download = 3;
inline constexpr int job_kind_config_upload = 4; // also the CT type table
inline constexpr int job_kind_firmware = 5;
inline constexpr int job_kind_sdcard_erase = 6;
inline constexpr int job_kind_customisation = 7;
inline constexpr int job_kind_cert_upload = 8;
inline constexpr int job_kind_key_upload = 9;
inline constexpr int job_kind_cert_regenerate = 10;
inline constexpr int job_kind_cert_erase = 11;
inline constexpr int job_kind_password = 13;

// Not a command of the window: the check after a firmware update that the
// units answer again with the new version.
inline constexpr int job_kind_verify = 12;
// Nor this: reading a unit's configuration to compare it (config-diff).
inline constexpr int job_kind_config_compare = 14;

// Whether a job of `kind` changes its unit when it succeeds (a download,
// a comparison or the check after an update does not).
bool job_changes_unit(int kind);

// batch_outcome::result of a selected unit the command passed over: it
// does not offer what the command needs, or the user's answers left it out.
inline constexpr int job_skipped = 3;

// What a job found beside its result: written on the unit's worker before
// it finishes, taken into its outcome when it reports.
struct job_findings {
    // Nothing was to be done: the unit already was as asked and was left
    // as it was (a firmware version, a configuration, a password).
    bool unchanged = false;
    // Dry runs: whether the command would change the unit, and what it
    // would do ("would flash: runs v0.64.2, target v0.65.0").
    bool would_change = false;
    std::string plan;
    // The unit's configuration was compared with the file (or another
    // unit's): `differences` holds every key that differs.
    bool compared = false;
    std::vector<config_difference> differences;
};

// A dry run's look at one unit, on its worker once it has logged in: reads
// what the command would change and fills `findings` (plan, would_change,
// unchanged). The reason the real command would fail, or empty.
using dry_planner = std::function<std::string(CHubDevice& unit, zt_hub& hub, job_findings& findings)>;

// One unit's part in the batch last started.
struct batch_outcome {
    CHubDevice* unit = nullptr; // valid while the unit is listed
    // job_running until it reports, then job_succeeded or job_failed;
    // job_skipped when no job was queued for it.
    int result = job_running;
    // Why it failed or was passed over, or what a success has to add
    // ("uploaded, verification cancelled"); empty otherwise.
    std::string reason;
    bool cancelled = false;     // it failed because the batch was cancelled
    bool duplicate = false;     // the address leads to a unit listed before it: not acted on twice
    bool worth_retrying = true; // a failure another run may mend (not a unit without the command)
    std::filesystem::path file; // the file written for this unit (downloads)
    int kind = 0;               // its job_kind
    // The unit as it was when its job was queued, for the batch's report.
    std::string address, serial, label;
    std::chrono::system_clock::time_point started{}, ended{};
    // Firmware updates: the version before and, once checked, after; empty
    // when not known. For TAPs, "label version" of each, joined by ", ".
    std::string version_before, version_after;
    // A follow-up job's last word, on the UI thread as it reports (before
    // the progress window lists the results).
    std::function<void(batch_outcome&)> on_report;
    // The progress window the unit last took part in: 0 for the batch's
    // own, one more for each follow-up run.
    int round = 0;
    // What its job found (a dry run's plan, a comparison, nothing to do).
    job_findings found;
    // Its job succeeded and changed the unit: not a dry run, not a unit
    // found as asked, not a job that only reads.
    bool changed = false;
};

// "ok", "unchanged", "failed", "cancelled", "skipped" or "duplicate": the
// outcome as reports name it ("unchanged": done, and nothing was to be done).
const char* outcome_status(const batch_outcome& outcome);

// The file the batch last started sent, for its report.
struct batch_file {
    std::string command;         // the batch's title ("Update Firmware")
    std::chrono::system_clock::time_point started{}; // when the command began: names the batch
    std::filesystem::path path;  // empty when the batch sends no file of the user's
    std::string sha256;          // lower-case hex of the file's bytes
    int image_class = 0;         // firmware images: the product class it was classified for
};

class batch_context {
public:
    // Takes over the manager's other_job_done; one per manager, outliving
    // no unit job (destroy it after the manager has shut down).
    batch_context(unit_manager& manager, dialogs& ui);
    ~batch_context();
    batch_context(const batch_context&) = delete;
    batch_context& operator=(const batch_context&) = delete;

    unit_manager& manager;
    dialogs& ui;
    // The word confirmation's generator, seeded once with the millisecond tick.
    std::mt19937 confirm_rng;
    // The window's tree and list consistency check; empty without a window.
    std::function<void()> consistency_check;
    CFirmwareCache firmware_cache;
    // At most this many units at work at once; the others wait in order,
    // queued as their turn comes. 0: all at once.
    std::size_t parallel = 0;
    // The firmware confirmation's check box as answered: the front end
    // verifies the update once its batch is over. Cleared by every command.
    bool verify_chosen = false;
    // While set, the units are awaited to answer again by then (the check
    // after a firmware update): the progress window counts those that have
    // not and shows the time left.
    std::optional<std::chrono::steady_clock::time_point> answer_deadline;

    // Set by a front end for its runs; the window never sets them.
    // A dry run: every command checks and asks as usual, then each unit's
    // job only logs in and reads what the command would change (`planner`);
    // nothing that changes a unit is sent.
    bool dry_run = false;
    // Firmware: the version the image installs ("0.65.0"). A unit (or TAP)
    // that reports it already is left unchanged, and the check after the
    // update wants every updated one to report it.
    std::string target_version;
    // Configuration upload: each unit's configuration is compared with the
    // file first, and only a unit that differs is sent the file.
    bool only_if_different = false;
    // Password change: a unit the new password logs in to already is left
    // unchanged (tried on a session of its own first).
    bool password_check_first = false;
    // What the command being run would do to a unit, for dry runs; each
    // command sets it before it dispatches (begin_command clears it).
    dry_planner planner;

    // Steps 1 and 2: false (the command does nothing) while any unit job is
    // outstanding; otherwise runs the consistency check and forgets the
    // batch before. `title` names the batch in its report.
    bool begin_command(const std::string& title = {});
    // A selected unit the command passes over, and why; `worth_retrying`
    // when another run may find it able.
    void skip(CHubDevice& unit, std::string reason, bool worth_retrying);
    // The file the command sends (its SHA-256 goes into the report).
    void note_file(const std::filesystem::path& path, const byte_vector& bytes, int image_class = 0);
    // Steps 3 and 4 for a capability bit: false when the command ends here.
    // The selected units without the bit are passed over (skip).
    bool check_capability(std::uint32_t bit, const std::string& title);
    // The partial-support question; the button pressed (IDYES goes on).
    int AskProceedPartial(const std::string& title);
    // The word-selection confirmation; nonzero only when OK was pressed on
    // the right word. `scope` is the line under its text that says what it
    // acts on (units_text, the file); `footer` may be null. With
    // `verification`, the check box of that text is offered and its state
    // lands in `checked`.
    int ConfirmParanoid(const std::string& instruction, const std::string& title, const std::string& scope,
                        const std::string* footer, const char* verification = nullptr, bool* checked = nullptr);
    // Step 7: lifts an earlier cancel on every unit that has a session.
    void clear_cancels();
    // Step 8 for one unit; a queued unit joins the batch's outcomes. Beyond
    // `parallel` units at work the job waits for its turn.
    // In a dry run the job is replaced by one that logs in and runs the
    // planner (a comparison, which only reads, runs as it is); without a
    // planner nothing is queued.
    bool dispatch(int kind, CHubDevice& unit, std::function<void()> job, dispatch_form form,
                  const std::function<bool(const CHubDevice&)>& extra = {});
    // The same for a job that reports findings: they land in the unit's
    // outcome when it reports.
    bool dispatch_finding(int kind, CHubDevice& unit, std::function<void(job_findings&)> job, dispatch_form form,
                          const std::function<bool(const CHubDevice&)>& extra = {});
    // A unit the command leaves as it is because it already is as asked:
    // it joins the outcomes as done and unchanged, with `reason` ("already
    // runs v0.65.0") and no job. After the command's dispatches.
    void settle_unchanged(CHubDevice& unit, int kind, std::string reason);
    // A follow-up job of a unit of the batch just finished (its outcome is
    // kept and updated when the job reports); never waits for a turn.
    bool dispatch_follow_up(int kind, CHubDevice& unit, std::function<void()> job,
                            std::function<void(batch_outcome&)> on_report = {});
    // Step 9: runs the progress window; 2 when nothing was dispatched or a
    // progress window is already open.
    int ShowOperationProgress(const std::string& progress_text, const std::string& title);

    // The progress window's timer poll and its Cancel.
    progress_state progress() const;
    void cancel_all();
    bool progress_open() const { return progress_open_; }

    // The units of the batch last started, in dispatch order.
    const std::vector<batch_outcome>& outcomes() const { return outcomes_; }
    // The selected units the command last started passed over.
    const std::vector<batch_outcome>& skipped() const { return skipped_; }
    batch_outcome* outcome_of(const CHubDevice& unit);
    const batch_file& file() const { return file_; }
    // Units whose job waits for its turn.
    std::size_t waiting() const { return waiting_.size(); }
    // Retrying the failed units: the selection shrinks to the units of the
    // batch last run that did not succeed (with their TAPs as they were
    // selected); the others are unchecked. Returns how many remain.
    int select_failed();
    // What the jobs need to log in and report.
    const connection_env& env() { return manager.env(); }

private:
    void on_job_done(CHubDevice& unit);
    void start_waiting();
    // The units still waiting for their turn leave the batch as failed.
    void drop_waiting(const std::string& reason);

    struct waiting_job {
        CHubDevice* unit;
        std::function<void()> job;
    };

    bool progress_open_ = false;
    bool any_failed_ = false;
    int round_ = 0; // of the progress window now open (batch_outcome::round)
    std::vector<batch_outcome> outcomes_;
    std::vector<batch_outcome> skipped_;
    batch_file file_;
    std::deque<waiting_job> waiting_;
    std::size_t at_work_ = 0; // units whose job is queued on their worker and has not reported
};

// "6 units", "1 unit", "4 TAPs of 2 units": what a confirmation acts on.
std::string units_text(int units, int taps = 0);
// "1.5 MiB", "512 KiB", "300 bytes".
std::string size_text(std::uint64_t bytes);

// A job's common end, on the unit's worker: the reason (kept on the unit
// for the front ends; for a success, what it has to add), job_result,
// job_done = 1, then WM_UNIT_JOB_DONE. A failure while the unit is asked to
// cancel counts as cancelled.
void finish_job(CHubDevice& unit, const connection_env& env, bool ok, std::string reason = {});

// A dry run's job: logs in, runs the planner and finishes with its plan as
// the reason; sends nothing that changes the unit.
void run_dry_job(CHubDevice& unit, const connection_env& env, const dry_planner& planner, job_findings& findings);

// Why a selected unit does not offer what a capability bit stands for
// ("HTTP units have no certificate commands"); `worth_retrying` is set when
// the unit only lacks it because a read failed.
std::string capability_missing_reason(const CHubDevice& unit, std::uint32_t bit, bool& worth_retrying);

} // namespace talvor
