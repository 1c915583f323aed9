#pragma once
// The record of every batch: one JSON line per unit, kept in a per-user
// log folder, so what was done to which unit can be looked up later.
#include <filesystem>
#include <string>

#include "operations/batch.h"

namespace talvor {

// The line of one unit (without its line feed): start and end time (UTC),
// the batch (its start time: the lines of one batch share it), command,
// unit address, serial and label, file (the one sent, or written for the
// unit) and the SHA-256 of the one sent, result ("ok", "failed",
// "cancelled", "skipped", "duplicate"), reason, versions before and after.
std::string batch_report_line(const batch_outcome& outcome, const batch_file& file);
// Every unit of the batch last run, those it passed over included, one
// line each, each ended by a line feed.
std::string batch_report(batch_context& ctx);

// batch-log in the user's own folder for state (transport/user_folder.h).
std::filesystem::path batch_log_folder();
// Appends `lines` to the folder's file of the day (YYYY-MM-DD.jsonl, UTC),
// creating both when missing. 0, or -1 when it cannot be written.
int append_batch_log(const std::string& lines);

} // namespace talvor
