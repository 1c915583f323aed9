#pragma once
// One blocking step of an exchange: an asynchronous operation started on an
// event loop and run on the calling thread until it completes, its time
// limit passes, or the session's cancel is set from any thread.
#include <chrono>
#include <cstdint>
#include <functional>

#include "transport/conn_sess_impl.h"

namespace boost::asio {
class io_context;
}

namespace talvor {

enum class step_end { done, cancelled, timed_out };

// `start` starts the operation, unless the session is already cancelled;
// its completion handler sets `finished`. `abort` makes the operation
// complete at once (typically by closing its socket); it runs on this
// thread, inside the loop.
step_end run_step(boost::asio::io_context& loop, conn_sess::impl& session, std::chrono::milliseconds limit,
                  const std::function<void()>& start, const bool& finished, const std::function<void()>& abort);

// The same for a long operation that reports the bytes it has moved so far:
// the limit applies to each stretch without progress, not to the whole.
step_end run_step(boost::asio::io_context& loop, conn_sess::impl& session, std::chrono::milliseconds limit,
                  const std::function<void()>& start, const bool& finished, const std::function<void()>& abort,
                  const std::function<std::uint64_t()>& moved);

} // namespace talvor
