// The batch progress window's requests, its timer poll and its Cancel.
#include "operations/batch.h"

namespace talvor {

namespace {

std::string results_text(const std::vector<batch_outcome>& outcomes, int round)
{
    std::string text;
    for (const batch_outcome& o : outcomes) {
        if (o.round != round || (o.result == job_succeeded && o.version_after.empty()))
            continue;
        std::string line = (o.label.empty() ? o.address : o.label) + ": ";
        if (o.result == job_succeeded)
            line += "ok";
        else
            line += o.reason.empty() ? std::string(o.result == job_running ? "did not report" : "failed") : o.reason;
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
    double sum = 0.0;
    int running = 0;
    for (CHubDevice* unit : manager.busy()) {
        if (unit->job_done.load() != 0)
            continue;
        sum += unit->job_progress.value->get();
        ++running;
    }
    if (running == 0) {
        s.position = 100;
    } else {
        const double p = sum / running * 100.0;
        s.position = p <= 0.0 ? 0 : p >= 100.0 ? 100 : static_cast<int>(p);
    }
    s.error = any_failed_;
    s.waiting = static_cast<int>(waiting_.size());
    s.finished = manager.busy().empty();
    for (const batch_outcome& o : outcomes_) {
        if (o.round != round_)
            continue;
        ++s.total;
        if (o.result == job_succeeded)
            ++s.done;
        else if (o.result == job_failed)
            ++s.failed;
    }
    if (s.finished) {
        s.position = 100;
        s.results = results_text(outcomes_, round_);
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
