#pragma once
// What a talvorctl run found: the units that were refreshed and those the
// core removed, printed as a tree, as one JSON object or as CSV.
#include <chrono>
#include <string>
#include <vector>

#include "operations/inventory_export.h"
#include "operations/unit_manager.h"

namespace talvor::cli {

class run_report final : public unit_listener {
public:
    void unit_ready(CHubDevice& unit) override;
    void unit_removed(const removed_unit& unit) override;

    // After an interrupt: the group's units that never reported, listed
    // as cancelled.
    void add_unfinished(const unit_group& group);

    // The units that failed for a passing reason (no answer, a dropped
    // connection, a read that failed), taken out of the report to be
    // refreshed again.
    std::vector<ip_address> take_passing_failures();

    std::size_t finished() const { return ready_.size() + removed_.size(); }
    // Units that failed (duplicates are not failures).
    std::size_t failures() const;
    // Addresses that turned out to lead to a unit listed before them.
    std::size_t duplicates() const { return removed_.size() - failures(); }

    // The units the refresh dropped, by address.
    struct failed_unit {
        std::string address, label, serial;
        std::string error;     // the reason ("duplicate of ..." for a duplicate)
        bool duplicate = false; // the same unit as one listed before it: no retry
        bool cancelled = false;
        std::chrono::system_clock::time_point started, ended;
    };
    std::vector<failed_unit> failed_units() const;

    std::string text() const;
    // The units that failed, were duplicates or were cancelled, a line each
    // (the end of text()).
    std::string dropped_text() const;
    std::string json() const;
    // The refreshed units only: the dropped ones have no rows to fill.
    std::string csv() const;

private:
    std::vector<inventory_dropped> dropped() const;

    struct gone {
        ip_address address{};
        std::string address_text;
        std::string label;
        std::string serial;
        int protocol = 0;
        unit_failure reason = unit_failure::none;
        std::string detail;
        std::uint32_t problems = 0; // the security problems refused
        bool cancelled = false;
        std::chrono::system_clock::time_point ended = std::chrono::system_clock::now();
    };
    std::chrono::system_clock::time_point started_ = std::chrono::system_clock::now();
    static std::string reason_of(const gone& g);
    std::vector<CHubDevice*> ready_;
    std::vector<gone> removed_;
};

} // namespace talvor::cli
