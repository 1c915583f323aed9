#include "inventory/unit_group.h"

#include <algorithm>
#include <cctype>

namespace talvor {

unit_group::unit_group() = default;

// Units go first and in list order, each joining its own worker, while the
// shared locks and dictionary their jobs may still touch are alive.
unit_group::~unit_group()
{
    for (auto& unit : units_)
        unit.reset();
    units_.clear();
}

CHubDevice* unit_group::add_unit(const unit_address& where)
{
    if (is_duplicate(where))
        return nullptr;
    units_.push_back(std::make_unique<CHubDevice>(*this, where));
    return units_.back().get();
}

bool unit_group::is_duplicate(const unit_address& where) const
{
    return is_duplicate(where, nullptr);
}

bool unit_group::is_duplicate(const unit_address& where, const CHubDevice* left_out) const
{
    for (const auto& unit : units_) {
        if (unit.get() == left_out)
            continue;
        if (unit->address == where.address)
            return true;
        if (where.mac_known() && unit->mac == where.mac)
            return true;
    }
    return false;
}

void unit_group::remove_unit(CHubDevice* unit)
{
    auto it = std::find_if(units_.begin(), units_.end(), [unit](const auto& u) { return u.get() == unit; });
    if (it == units_.end())
        return;
    std::unique_ptr<CHubDevice> doomed = std::move(*it);
    units_.erase(it);
    doomed.reset();
    if (count_selected() == 0)
        selected_class = class_unknown;
}

int unit_group::category_id(std::string_view name)
{
    std::string key(name);
    for (char& ch : key)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    std::lock_guard lock(category_lock_);
    auto [it, added] = category_index_.try_emplace(std::move(key), static_cast<int>(category_names_.size()));
    if (added)
        category_names_.emplace_back(name);
    return it->second;
}

std::string unit_group::category_name(int id) const
{
    std::lock_guard lock(category_lock_);
    if (id < 0 || static_cast<std::size_t>(id) >= category_names_.size())
        return {};
    return category_names_[static_cast<std::size_t>(id)];
}

std::size_t unit_group::category_count() const
{
    std::lock_guard lock(category_lock_);
    return category_names_.size();
}

tree_item_ref unit_group::find_item(tree_node item) const
{
    if (item == no_tree_node)
        return {};
    for (const auto& unit : units_) {
        if (unit->tree_item == item)
            return {unit.get(), nullptr};
        for (const auto& tap : unit->taps)
            if (tap->tree_item == item)
                return {unit.get(), tap.get()};
    }
    return {};
}

bool unit_group::node_agrees(tree_node item, bool checked) const
{
    const tree_item_ref found = find_item(item);
    if (!found.unit)
        return !checked;
    const int selected = found.tap ? found.tap->selected : found.unit->selected;
    const int product_class = found.tap ? found.tap->product_class : found.unit->product_class;
    if (checked)
        return selected != 0 && product_class == selected_class;
    return selected == 0;
}

void unit_group::set_checked(tree_node item, bool checked)
{
    if (check_guard_)
        return;
    check_guard_ = 1;
    if (tree)
        tree->suspend_redraw();

    const tree_item_ref found = find_item(item);
    int* selected = found.tap ? &found.tap->selected : found.unit ? &found.unit->selected : nullptr;
    const int c = found.tap ? found.tap->product_class : found.unit ? found.unit->product_class : class_unknown;

    if (selected && c == class_unknown) {
        // An unclassified item cannot join a selection: a checked node
        // without a class would fail the window's consistency check.
        *selected = 0;
        if (checked && tree)
            tree->clear_check(item);
    } else if (selected) {
        *selected = checked ? 1 : 0;
        if (checked) {
            auto drop = [this](tree_node node, int& sel) {
                sel = 0;
                if (tree)
                    tree->clear_check(node);
            };
            for (const auto& unit : units_) {
                if (unit->tree_item != no_tree_node && unit->product_class != c)
                    drop(unit->tree_item, unit->selected);
                for (const auto& tap : unit->taps)
                    if (tap->tree_item != no_tree_node && tap->product_class != c)
                        drop(tap->tree_item, tap->selected);
            }
            selected_class = c;
        } else if (c == selected_class && count_selected() == 0) {
            selected_class = class_unknown;
        }
    }

    if (tree)
        tree->resume_redraw();
    check_guard_ = 0;
}

int unit_group::count_selected() const
{
    if (selected_class == class_unknown)
        return 0;
    int n = 0;
    for (const auto& unit : units_) {
        if (unit->selected)
            ++n;
        for (const auto& tap : unit->taps)
            if (tap->selected)
                ++n;
    }
    return n;
}

void unit_group::for_each_class_member(int product_class,
                                       const std::function<void(CHubDevice&, CTapDevice*)>& fn) const
{
    if (product_class == class_unknown)
        return;
    const bool units = product_class == class_orvane_system || product_class == class_talvor_system;
    for (const auto& unit : units_) {
        if (units) {
            if (unit->product_class == product_class)
                fn(*unit, nullptr);
            continue;
        }
        for (const auto& tap : unit->taps)
            if (tap->product_class == product_class)
                fn(*unit, tap.get());
    }
}

capability_masks unit_group::selection_capabilities() const
{
    capability_masks m;
    if (selected_class != class_orvane_system && selected_class != class_talvor_system)
        return m;
    bool first = true;
    for (const auto& unit : units_) {
        if (!unit->selected)
            continue;
        m.any |= unit->capabilities;
        m.all = first ? unit->capabilities : (m.all & unit->capabilities);
        first = false;
    }
    return m;
}

void unit_group::for_each_unit(const std::function<void(CHubDevice&)>& fn) const
{
    for (const auto& unit : units_)
        fn(*unit);
}

void unit_group::for_each_selected(const std::function<void(CHubDevice&)>& fn) const
{
    for (const auto& unit : units_)
        if (unit->selected)
            fn(*unit);
}

void unit_group::for_each_selected_with(std::uint32_t mask, const std::function<void(CHubDevice&)>& fn) const
{
    for (const auto& unit : units_)
        if (unit->selected && (unit->capabilities & mask) != 0)
            fn(*unit);
}

void unit_group::for_each_with_selected_taps(const std::function<void(CHubDevice&)>& fn) const
{
    for (const auto& unit : units_)
        if (std::any_of(unit->taps.begin(), unit->taps.end(), [](const auto& t) { return t->selected != 0; }))
            fn(*unit);
}

} // namespace talvor
