#pragma once
// The units the main window manages, the tree selection state, the shared
// category dictionary and the locks all units' workers share.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "inventory/code_tables.h"
#include "inventory/ensure_login_state.h"
#include "inventory/hub_device.h"
#include "inventory/tree_node.h"
#include "inventory/unit_address.h"

namespace talvor {

struct capability_masks {
    std::uint32_t any = 0; // OR over the selected units
    std::uint32_t all = 0; // AND over the selected units
};

// What a tree node stands for; both null when it is neither a unit nor a TAP.
struct tree_item_ref {
    CHubDevice* unit = nullptr; // the unit, or the TAP's unit
    CTapDevice* tap = nullptr;  // set for a TAP node
};

class unit_group {
public:
    unit_group();
    ~unit_group();
    unit_group(const unit_group&) = delete;
    unit_group& operator=(const unit_group&) = delete;

    int selected_class = class_unknown;
    tree_hook* tree = nullptr; // set by the front end; may stay null

    // Null when is_duplicate holds; else the new record, worker started,
    // appended to the list.
    CHubDevice* add_unit(const unit_address& where);
    // Same 16 address bytes, or (when the MAC is known) same MAC.
    bool is_duplicate(const unit_address& where) const;
    // As above, not counting `left_out` (the check after a refresh).
    bool is_duplicate(const unit_address& where, const CHubDevice* left_out) const;
    // Takes the unit out of the list and destroys it; with nothing left
    // selected the selected class returns to 0x9000.
    void remove_unit(CHubDevice* unit);

    // Index of the name in the shared dictionary (case-insensitive; the
    // spelling seen first is kept). Safe from any worker.
    int category_id(std::string_view name);
    // The stored spelling of an index; empty when out of range.
    std::string category_name(int id) const;
    std::size_t category_count() const;

    // The single-class rule, run when a check box in the tree is toggled.
    // Does nothing while the check guard is raised.
    void set_checked(tree_node item, bool checked);
    // Raised by the front end while it checks nodes itself (select class),
    // so that the notifications those changes raise unselect nothing.
    void raise_check_guard() { ++check_guard_; }
    void lower_check_guard() { --check_guard_; }
    bool check_guard_raised() const { return check_guard_ != 0; }
    int count_selected() const;
    // What Select Class checks for a product class: every unit of a hub
    // class, or every TAP of that product class on any unit (`tap` null
    // for a unit). The window and talvorctl's --class both select this.
    void for_each_class_member(int product_class, const std::function<void(CHubDevice&, CTapDevice*)>& fn) const;
    capability_masks selection_capabilities() const;
    tree_item_ref find_item(tree_node item) const;
    // Whether a node's check box agrees with the model: a checked unit or
    // TAP must be selected and of the selected class, an unchecked one
    // unselected, and any other node unchecked.
    bool node_agrees(tree_node item, bool checked) const;

    const std::vector<std::unique_ptr<CHubDevice>>& units() const { return units_; }
    void for_each_unit(const std::function<void(CHubDevice&)>& fn) const;
    void for_each_selected(const std::function<void(CHubDevice&)>& fn) const;
    void for_each_selected_with(std::uint32_t mask, const std::function<void(CHubDevice&)>& fn) const;
    void for_each_with_selected_taps(const std::function<void(CHubDevice&)>& fn) const;

    // Taken in this order by the login of a unit: login, then security,
    // then the prompt turn; the prompt lock only around updates of the
    // shared prompt state.
    std::mutex login_mutex;
    std::mutex prompt_lock;
    std::mutex security_mutex;
    // Held by the unit whose prompt (security or password) is open, so that
    // one prompt at a time reaches the user, in the window and on a terminal.
    std::mutex prompt_turn;
    shared_prompt_state prompt; // the connection worker's shared prompt state

private:
    std::vector<std::unique_ptr<CHubDevice>> units_;
    int check_guard_ = 0;

    mutable std::mutex category_lock_;
    std::vector<std::string> category_names_;
    std::unordered_map<std::string, int> category_index_;
};

} // namespace talvor
