#pragma once
// Progress of a unit's current job: written by the worker's upload code,
// read by the progress dialog on the UI thread.
#include <atomic>
#include <memory>

namespace talvor {

// The completed fraction (0.0 to 1.0). Atomic because a worker writes it
// while the UI thread reads it; relaxed ordering suffices for a display value.
class progress_info_value {
public:
    void set(double fraction) { value_.store(fraction, std::memory_order_relaxed); }
    double get() const { return value_.load(std::memory_order_relaxed); }

private:
    std::atomic<double> value_{0.0};
};

// A slice [low, high] of a shared progress value; uploads map their own
// progress into it.
struct progress_range {
    double low = 0.0;
    double high = 1.0;
    std::shared_ptr<progress_info_value> value = std::make_shared<progress_info_value>();

    // Sets the shared value to the point `fraction` (0..1) of this range.
    void report(double fraction) const { value->set(low + (high - low) * fraction); }
    void set_raw(double absolute) const { value->set(absolute); }
    // The part [a, b] (fractions of this range) of this range, same value.
    progress_range sub(double a, double b) const
    {
        return progress_range{low + (high - low) * a, low + (high - low) * b, value};
    }
};

} // namespace talvor
