// The batch progress window's requests, its timer poll and its Cancel.
#include "operations/batch.h"

#include <algorithm>

#include "transport/path_text.h"

namespace talvor {

namespace {

std::string results_text(const std::vector<batch_outcome>& outcomes, const std::vector<batch_outcome>& skipped,
                         int round)
{
    std::string text;
    for (const batch_outcome& o : skipped)
        text += (text.empty() ? "" : "\n") + (o.label.empty() ? o.address : o.label) + ": " + o.reason;
    for (const batch_outcome& o : outcomes) {
        if (o.round != round ||
            (o.result == job_succeeded && o.version_after.empty() && o.reason.empty() && o.file.empty()))
            continue;
        std::string line = (o.label.empty() ? o.address : o.label) + ": ";
        if (o.result == job_succeeded)
            line += o.reason.empty() ? "ok" : o.reason;
        else
            line += o.reason.empty() ? std::string(o.result == job_running ? "did not report" : "failed") : o.reason;
        if (!o.file.empty())
            line += (o.result == job_succeeded ? ", saved to " : ", ") + path_text(o.file);
        if (!o.version_before.empty())
            line += " (version " + o.version_before + (o.version_after.empty() ? "" : " -> " + o.version_after) + ")";
        text += (text.empty() ? "" : "\n") + line;
    }
    return text;
}

} // namespace

int batch_context::ShowOperationProgress(const std::string& progress_text, const std::string& title)
{
    if (manager.busy().empty() || progress_open_)
        return 2;
    progress_request r;
    file_.command = title;
    r.title = title;
    r.main_instruction = progress_text;
    r.verification_text = "Cancel Operation";
    r.poll = [this] { return progress(); };
    r.cancel = [this] { cancel_all(); };
    progress_open_ = true;
    const int result = ui.show_progress(r);
    progress_open_ = false;
    return result;
}

progress_state batch_context::progress() const
{
    progress_state s;
    s.error = any_failed_;
    s.waiting = static_cast<int>(waiting_.size());
    s.finished = manager.busy().empty();
    // Each unit of the window is a like share of the bar: a unit done
    // fills its share, one at work the part it reports, one that failed
    // none, so the bar never claims work that was not done.
    double work = 0.0;
    double least = 2.0;
    const batch_outcome* slowest = nullptr;
    for (const batch_outcome& o : outcomes_) {
        if (o.round != round_)
            continue;
        ++s.total;
        if (o.result == job_succeeded) {
            ++s.done;
            work += 1.0;
        } else if (o.result == job_failed) {
            ++s.failed;
        } else if (o.unit->job_done.load() == 0 && manager.busy().contains(o.unit) &&
                   o.started.time_since_epoch().count() != 0) {
            const double part = std::clamp(o.unit->job_progress.value->get(), 0.0, 1.0);
            work += part;
            if (part < least) {
                least = part;
                slowest = &o;
            }
        }
    }
    s.position = s.total == 0 ? (s.finished ? 100 : 0) : static_cast<int>(work / s.total * 100.0);
    if (slowest && !s.finished)
        s.slowest = (slowest->label.empty() ? slowest->address : slowest->label) + " at " +
                    std::to_string(static_cast<int>(least * 100.0)) + "%";
    if (s.finished) {
        s.results = results_text(outcomes_, round_ == 0 ? skipped_ : std::vector<batch_outcome>(), round_);
    } else if (answer_deadline) {
        using namespace std::chrono;
        const auto left = ceil<seconds>(*answer_deadline - steady_clock::now()).count();
        s.not_answered = s.total - s.done - s.failed;
        s.seconds_left = left < 0 ? 0 : static_cast<int>(left);
    }
    return s;
}

void batch_context::cancel_all()
{
    // Units still waiting for their turn never start.
    drop_waiting("cancelled");
    manager.group().for_each_unit([](CHubDevice& unit) { cancel_unit(unit); });
}

} // namespace talvor
