#include "transport/io_step.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

namespace talvor {

namespace {

struct step_state {
    bool active = true;    // only touched on the stepping thread
    bool cancelled = false;
};

} // namespace

step_end run_step(boost::asio::io_context& loop, conn_sess::impl& session, std::chrono::milliseconds limit,
                  const std::function<void()>& start, const bool& finished, const std::function<void()>& abort)
{
    auto state = std::make_shared<step_state>();
    // The hook only posts: the abort itself must run on the loop's thread.
    // A post that arrives after this step has ended finds it inactive.
    const auto hook = session.add_cancel_hook([&loop, state, &abort] {
        boost::asio::post(loop, [state, &abort] {
            if (state->active && !state->cancelled) {
                state->cancelled = true;
                abort();
            }
        });
    });

    if (session.cancel.load()) {
        // Nothing may leave for the unit once the event is set.
        session.remove_cancel_hook(hook);
        state->active = false;
        return step_end::cancelled;
    }
    loop.restart();
    start();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool timed_out = false;
    while (!finished) {
        if (loop.run_one_until(deadline) == 0) {
            if (finished)
                break;
            if (std::chrono::steady_clock::now() >= deadline || loop.stopped()) {
                timed_out = !state->cancelled;
                if (!state->cancelled)
                    abort();
                loop.restart();
                while (!finished && loop.run_one() != 0) {
                }
                break;
            }
        }
    }
    // Removing the hook waits for a set_cancel in progress to finish with it.
    session.remove_cancel_hook(hook);
    state->active = false;

    if (state->cancelled)
        return step_end::cancelled;
    if (timed_out)
        return step_end::timed_out;
    if (!finished)
        return step_end::cancelled; // the loop ran dry: nothing left to complete it
    return step_end::done;
}

} // namespace talvor
