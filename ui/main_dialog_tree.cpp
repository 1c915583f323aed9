// The tree side of the main window: insertion, checking, details, depth.
#include "ui/main_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QTreeWidgetItemIterator>

#include <cstdlib>
#include <vector>

#include "inventory/connection_worker.h"
#include "inventory/details_rows.h"
#include "inventory/unit_filter.h"
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

QString hex_of(const ip_address& address)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(address.data()), int(address.size())).toHex());
}

// Units by serial number, then address; TAPs by serial number, then bus address.
QString unit_sort_key(const CHubDevice& unit)
{
    return qs(unit.serial) + QChar(1) + hex_of(unit.address);
}

QString tap_sort_key(const CTapDevice& tap)
{
    return qs(tap.serial) + QChar(1) + QStringLiteral("%1").arg(tap.bus_address, 10, 10, QLatin1Char('0'));
}

// What a unit's node tells on hovering: the connection it uses and the
// security problems it was accepted with, in the security prompt's words.
QString unit_tooltip(CHubDevice& unit, std::uint32_t problems)
{
    const int protocol = unit_protocol(unit);
    QString tip = qs(unit.label) + QLatin1Char('\n') + QStringLiteral("Connection: ")
        + (protocol == protocol_wss    ? QStringLiteral("WebSocket over TLS (HTTPS, port 443)")
           : protocol == protocol_http ? QStringLiteral("HTTP (port 80), unencrypted")
                                       : QStringLiteral("not known"));
    const std::vector<std::string> lines = security_problem_lines(problems);
    if (lines.empty())
        return tip + QStringLiteral("\nNo security problems");
    tip += QStringLiteral("\nSecurity problems:");
    for (const std::string& line : lines)
        tip += QStringLiteral("\n    \u2022    ") + qs(line);
    return tip;
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
    // Types by name and units by serial: the same order on every run,
    // whichever unit answered first.
    const QString type_name = qs(system_type_name(unit.system_type));
    if (!type_node)
        type_node = tree_->add_item(nullptr, type_name, unit.system_type, false, type_name);

    const std::uint32_t problems = unit.hub ? unit.hub->found_problems : 0;
    QTreeWidgetItem* unit_node =
        tree_->add_item(type_node, qs(unit.label), problems ? dark_red : 0, true, unit_sort_key(unit));
    unit_node->setToolTip(0, unit_tooltip(unit, problems));
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
        tap->tree_item =
            CCustomTreeCtrl::node_of(tree_->add_item(class_node, qs(tap->label), 0, true, tap_sort_key(*tap)));
    }
    if (!filter_->text().isEmpty())
        filter_unit(unit, filter_->text().toStdString());
    tree_->setUpdatesEnabled(true);
}

void CMainDialog::apply_filter()
{
    const std::string text = filter_->text().toStdString();
    tree_->setUpdatesEnabled(false);
    int listed = 0, shown = 0;
    for (const auto& unit : manager_->group().units()) {
        filter_unit(*unit, text);
        if (QTreeWidgetItem* node = item_of(*unit)) {
            ++listed;
            shown += node->isHidden() ? 0 : 1;
        }
    }
    tree_->setUpdatesEnabled(true);
    show_note(text.empty() ? QString() : tr("Filter: %1 of %2 units shown").arg(shown).arg(listed));
}

void CMainDialog::filter_unit(CHubDevice& unit, const std::string& text)
{
    QTreeWidgetItem* node = item_of(unit);
    if (!node)
        return;
    // A checked item always shows: a batch acts on it.
    const bool unit_shown = unit.selected || unit_matches(unit, text);
    bool any_tap = false;
    for (const auto& tap : unit.taps) {
        QTreeWidgetItem* t = item_of(*tap);
        if (!t)
            continue;
        const bool shown = unit_shown || tap->selected || tap_matches(*tap, text);
        t->setHidden(!shown);
        any_tap = any_tap || shown;
    }
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem* class_node = node->child(i);
        bool any = false;
        for (int k = 0; k < class_node->childCount() && !any; ++k)
            any = !class_node->child(k)->isHidden();
        class_node->setHidden(!any);
    }
    node->setHidden(!unit_shown && !any_tap);
    QTreeWidgetItem* type_node = node->parent();
    bool any = false;
    for (int i = 0; i < type_node->childCount() && !any; ++i)
        any = !type_node->child(i)->isHidden();
    type_node->setHidden(!any);
}

void CMainDialog::on_check_changed(QTreeWidgetItem* item, bool checked)
{
    unit_group& group = manager_->group();
    const bool outer = !group.check_guard_raised();
    const int before = outer ? group.count_selected() : 0;
    const int class_before = group.selected_class;
    group.set_checked(CCustomTreeCtrl::node_of(item), checked);
    // Whoever raised the guard checks many nodes and refreshes once at the
    // end: doing it per node made Select Class quadratic in the units.
    if (!outer)
        return;
    // Checking an item of another class unchecks the others: say so.
    if (checked && class_before != class_unknown && group.selected_class != class_before && before > 0)
        show_note((before == 1 ? tr("1 item") : tr("%1 items").arg(before))
                  + tr(" of class \"%1\" unchecked: the checked items are all of one class")
                        .arg(qs(product_class_name(class_before))));
    else
        show_note({});
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
    if (!filter_->text().isEmpty())
        apply_filter(); // what is checked shows
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

void CMainDialog::list_loaded(const std::filesystem::path& path)
{
    require_ui_thread("list_loaded");
    remember_list(path);
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
