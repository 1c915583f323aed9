#include "protocol/upload_progress.h"

#include <algorithm>

#include "transport/checked_number.h"

namespace talvor {

int follow_upload_progress(const std::function<json_ptr()>& poll, const std::function<bool(int)>& pause,
                           const progress_range& range)
{
    const double from = range.low + 0.1 * (range.high - range.low);
    double lowest = 1.0; // units may restart their count; progress runs from the lowest seen
    for (;;) {
        const json_ptr reply = poll();
        if (!reply || !reply->is(json_parser::root, json_type::object))
            return -1;
        const auto status_token = reply->find(json_parser::root, "status");
        if (status_token == reply->end()) {
            range.set_raw(range.high);
            return 200;
        }
        const auto status = checked_truncate<int>(reply->get_number(status_token));
        if (status == 3) {
            range.set_raw(range.high);
            return 200;
        }
        if (status != 1)
            return -1;

        // A running reply without a usable percentage keeps the last value.
        const auto percent = checked_truncate<int>(reply->get_number(reply->find(json_parser::root, "prog")));
        if (percent && *percent >= 0 && *percent <= 100) {
            const double p = *percent / 100.0;
            lowest = std::min(lowest, p);
            if (lowest >= 1.0)
                range.set_raw(range.high);
            else
                range.set_raw(from + (range.high - from) * (p - lowest) / (1.0 - lowest));
        }
        if (!pause(progress_poll_ms))
            return -998;
    }
}

} // namespace talvor
