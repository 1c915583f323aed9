// The tree side of the main window: insertion, checking, details, depth.
#include "ui/main_dialog.h"

#include <QLabel>
#include <QTreeWidgetItemIterator>

#include <cstdlib>
#include <vector>

#include "inventory/details_rows.h"
#include "ui/custom_list_ctrl.h"
#include "ui/custom_tree_ctrl.h"
#include "ui/not_added_notice.h"
#include "ui/ui_thread.h"

namespace talvor {

namespace {

constexpr std::uint32_t dark_red = 0x800000C0u; // top bit: a colour, red 192

QString qs(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Per depth: nodes that can expand (they have children) and how many of
// them are expanded. A node without children can never expand, so counting
// it would stop Show More at a unit without TAPs.
struct depth_counts {
    std::vector<int> nodes, expanded;
};

void count_depths(QTreeWidgetItem* item, std::size_t depth, depth_counts& c)
{
    if (item->childCount() == 0)
        return;
    if (c.nodes.size() <= depth) {
        c.nodes.resize(depth + 1);
        c.expanded.resize(depth + 1);
    }
    ++c.nodes[depth];
    if (item->isExpanded())
        ++c.expanded[depth];
    for (int i = 0; i < item->childCount(); ++i)
        count_depths(item->child(i), depth + 1, c);
}

void nodes_at(QTreeWidgetItem* item, std::size_t depth, std::vector<QTreeWidgetItem*>& out)
{
    if (depth == 0) {
        if (item->childCount() != 0)
            out.push_back(item);
        return;
    }
    for (int i = 0; i < item->childCount(); ++i)
        nodes_at(item->child(i), depth - 1, out);
}

} // namespace

QTreeWidgetItem* CMainDialog::item_of(const CHubDevice& unit) const
{
    return CCustomTreeCtrl::item_of(unit.tree_item);
}

QTreeWidgetItem* CMainDialog::item_of(const CTapDevice& tap) const
{
    return CCustomTreeCtrl::item_of(tap.tree_item);
}

void CMainDialog::insert_unit(CHubDevice& unit)
{
    if (unit.tree_item != no_tree_node)
        return;
    tree_->setUpdatesEnabled(false);
    QTreeWidgetItem* type_node = nullptr;
    for (int i = 0; i < tree_->topLevelItemCount() && !type_node; ++i)
        if (CCustomTreeCtrl::item_data(tree_->topLevelItem(i)) == std::uint32_t(unit.system_type))
            type_node = tree_->topLevelItem(i);
    if (!type_node)
        type_node = tree_->add_item(nullptr, qs(system_type_name(unit.system_type)), unit.system_type, false);

    const bool problems = unit.hub && unit.hub->found_problems != 0;
    QTreeWidgetItem* unit_node = tree_->add_item(type_node, qs(unit.label), problems ? dark_red : 0, true);
    unit.tree_item = CCustomTreeCtrl::node_of(unit_node);

    std::vector<QTreeWidgetItem*> class_nodes;
    for (const auto& tap : unit.taps) {
        QTreeWidgetItem* class_node = nullptr;
        for (QTreeWidgetItem* c : class_nodes)
            if (CCustomTreeCtrl::item_data(c) == std::uint32_t(tap->tap_class))
                class_node = c;
        if (!class_node) {
            class_node = tree_->add_item(unit_node, qs(tap_class_name(tap->tap_class)), tap->tap_class, false);
            class_nodes.push_back(class_node);
        }
        tap->tree_item = CCustomTreeCtrl::node_of(tree_->add_item(class_node, qs(tap->label), 0, true));
    }
    tree_->setUpdatesEnabled(true);
}

void CMainDialog::on_check_changed(QTreeWidgetItem* item, bool checked)
{
    manager_->group().set_checked(CCustomTreeCtrl::node_of(item), checked);
    // Whoever raised the guard checks many nodes and refreshes once at the
    // end: doing it per node made Select Class quadratic in the units.
    if (manager_->group().check_guard_raised())
        return;
    update_status();
    update_buttons();
    refresh_details();
}

void CMainDialog::update_status()
{
    const unit_group& group = manager_->group();
    const int n = group.count_selected();
    if (n != 0) {
        status_[1]->setText(QStringLiteral("Selected: %1").arg(n));
        status_[2]->setText(QStringLiteral("Class: \"") + qs(product_class_name(group.selected_class))
                            + QLatin1Char('"'));
    } else {
        status_[1]->clear();
        status_[2]->clear();
    }
}

void CMainDialog::refresh_details()
{
    details_->set_rows(selection_details(manager_->group()));
}

void CMainDialog::select_class()
{
    unit_group& group = manager_->group();
    if (!manager_->busy().empty() || group.selected_class == class_unknown)
        return;
    tree_->setUpdatesEnabled(false);
    group.raise_check_guard();
    group.for_each_class_member(group.selected_class, [&](CHubDevice& unit, CTapDevice* tap) {
        if (tap && tap->tree_item != no_tree_node) {
            tap->selected = 1;
            item_of(*tap)->setCheckState(0, Qt::Checked);
        } else if (!tap && unit.tree_item != no_tree_node) {
            unit.selected = 1;
            item_of(unit)->setCheckState(0, Qt::Checked);
        }
    });
    tree_->setUpdatesEnabled(true);
    group.lower_check_guard();
    update_status();
    update_buttons();
    refresh_details();
}

void CMainDialog::show_more()
{
    depth_counts c;
    for (int i = 0; i < tree_->topLevelItemCount(); ++i)
        count_depths(tree_->topLevelItem(i), 0, c);
    for (std::size_t d = 0; d < c.nodes.size(); ++d) {
        if (c.expanded[d] >= c.nodes[d])
            continue;
        std::vector<QTreeWidgetItem*> level;
        for (int i = 0; i < tree_->topLevelItemCount(); ++i)
            nodes_at(tree_->topLevelItem(i), d, level);
        tree_->setUpdatesEnabled(false);
        for (QTreeWidgetItem* item : level)
            item->setExpanded(true);
        tree_->setUpdatesEnabled(true);
        return;
    }
}

void CMainDialog::show_less()
{
    depth_counts c;
    for (int i = 0; i < tree_->topLevelItemCount(); ++i)
        count_depths(tree_->topLevelItem(i), 0, c);
    for (std::size_t d = c.nodes.size(); d-- > 0;) {
        if (c.expanded[d] == 0)
            continue;
        std::vector<QTreeWidgetItem*> level;
        for (int i = 0; i < tree_->topLevelItemCount(); ++i)
            nodes_at(tree_->topLevelItem(i), d, level);
        QTreeWidgetItem* caret = tree_->currentItem();
        tree_->setUpdatesEnabled(false);
        for (QTreeWidgetItem* item : level)
            item->setExpanded(false);
        tree_->setUpdatesEnabled(true);
        if (tree_->currentItem() != caret)
            details_->clear();
        return;
    }
}

bool CMainDialog::tree_consistent() const
{
    const unit_group& group = manager_->group();
    // Depth-first, each node before its children (the iterator's order).
    for (QTreeWidgetItemIterator it(tree_); *it; ++it)
        if (!group.node_agrees(CCustomTreeCtrl::node_of(*it), CCustomTreeCtrl::checked(*it)))
            return false;
    return true;
}

std::function<void()> CMainDialog::consistency_check()
{
    return [this] {
        if (tree_consistent())
            return;
        task_dialog_request r = error_dialog(std::string(application_name), "Internal consistency check failed", "");
        ui_.task_dialog(r);
        std::_Exit(1); // nothing is saved: the model can no longer be trusted
    };
}

// unit_listener: each change of the units can change what is enabled.
void CMainDialog::unit_ready(CHubDevice& unit)
{
    require_ui_thread("unit_ready");
    insert_unit(unit);
    update_buttons();
}

void CMainDialog::unit_removed(const removed_unit& info)
{
    require_ui_thread("unit_removed");
    // A unit shown already can turn out to be a duplicate of one listed
    // before it that answered later: its node goes, and an emptied hub
    // type node with it.
    if (info.unit && info.unit->tree_item != no_tree_node) {
        QTreeWidgetItem* node = item_of(*info.unit);
        QTreeWidgetItem* type_node = node->parent();
        delete node;
        if (type_node && type_node->childCount() == 0)
            delete type_node;
        update_status();
        refresh_details();
    }
    update_buttons();
}

void CMainDialog::refresh_queued(CHubDevice&)
{
    require_ui_thread("refresh_queued");
    update_buttons();
}

void CMainDialog::not_added_changed()
{
    require_ui_thread("not_added_changed");
    if (not_added_)
        not_added_->update_list();
}

void CMainDialog::discovery_finished()
{
    require_ui_thread("discovery_finished");
    update_buttons();
}

void CMainDialog::job_finished(CHubDevice&)
{
    require_ui_thread("job_finished");
    update_buttons();
    refresh_details();
}

void CMainDialog::suspend_redraw()
{
    require_ui_thread("suspend_redraw");
    tree_->setUpdatesEnabled(false);
}

void CMainDialog::resume_redraw()
{
    tree_->setUpdatesEnabled(true);
}

void CMainDialog::clear_check(tree_node node)
{
    require_ui_thread("clear_check");
    CCustomTreeCtrl::item_of(node)->setCheckState(0, Qt::Unchecked);
}

} // namespace talvor
