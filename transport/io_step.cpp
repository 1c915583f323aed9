#include "transport/io_step.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <algorithm>

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
    return run_step(loop, session, limit, start, finished, abort, {});
}

step_end run_step(boost::asio::io_context& loop, conn_sess::impl& session, std::chrono::milliseconds limit,
                  const std::function<void()>& start, const bool& finished, const std::function<void()>& abort,
                  const std::function<std::uint64_t()>& moved)
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
    using clock = std::chrono::steady_clock;
    auto deadline = clock::now() + limit;
    // With progress to watch, the loop wakes often enough to notice a stall
    // soon after `limit` without progress.
    const auto slice = std::max(limit / 8, std::chrono::milliseconds(1));
    std::uint64_t seen = moved ? moved() : 0;
    bool timed_out = false;
    while (!finished) {
        const auto wake = moved ? std::min(deadline, clock::now() + slice) : deadline;
        if (loop.run_one_until(wake) == 0 || moved) {
            if (finished)
                break;
            const auto now = clock::now();
            if (moved) {
                if (const auto m = moved(); m != seen) {
                    seen = m;
                    deadline = now + limit;
                }
            }
            if (now >= deadline || loop.stopped()) {
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
