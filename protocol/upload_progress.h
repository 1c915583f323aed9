#pragma once
// Following a unit's progress after a firmware image has been sent.
#include <functional>

#include "transport/json_parser.h"
#include "transport/progress.h"

namespace talvor {

inline constexpr int progress_poll_ms = 500;

// The transfer covers the first tenth of an upload's range; the unit's own
// progress covers the rest.
inline progress_range transfer_part(const progress_range& range) { return range.sub(0.0, 0.1); }

// Polls until the unit reports done (`status` 3 or absent: 200, progress at
// the range's high end). `status` 1 moves the progress and polls again after
// a pause; any other status, a missing reply or a malformed one gives -1.
// `poll` returns the parsed reply or null; `pause` returns false when it was
// cut short by a cancel, which ends the upload with -998.
int follow_upload_progress(const std::function<json_ptr()>& poll, const std::function<bool(int)>& pause,
                           const progress_range& range);

} // namespace talvor
