// The commands of the main window and which of them are enabled.
#include "ui/main_dialog.h"

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>

#include "operations/address_list_save.h"
#include "operations/batch_history.h"
#include "operations/batch_report.h"
#include "operations/inventory_export.h"
#include "transport/path_text.h"
#include "ui/about_dialog.h"
#include "ui/command_states.h"
#include "ui/custom_list_ctrl.h"
#include "ui/custom_tree_ctrl.h"
#include "ui/history_dialog.h"
#include "ui/settings_dialog.h"
#include "ui/settings_store_qt.h"
#include "ui/val_edit.h"

namespace talvor {

namespace {
constexpr int recent_lists_kept = 8;
} // namespace

void CMainDialog::update_buttons()
{
    const unit_group& group = manager_->group();
    command_inputs in;
    in.address_typed = !address_->text().trimmed().isEmpty();
    in.discovery_allowed = (settings_.discover_flags.load() & 1) != 0;
    in.discovery_running = manager_->discovery_running();
    in.tree_filled = tree_->topLevelItemCount() != 0;
    in.selected_class = group.selected_class;
    in.capabilities = group.selection_capabilities().any;
    in.busy = busy_work(manager_->busy());
    for (const auto& [id, reason] : command_states(in)) {
        const QString tip = QString::fromStdString(reason);
        if (id == cmd_change_password) {
            change_password_->setEnabled(reason.empty());
            change_password_->setToolTip(tip);
            continue;
        }
        QAbstractButton* b = command_button(id);
        b->setEnabled(reason.empty());
        b->setToolTip(tip);
    }
}

void CMainDialog::run_command(int id)
{
    switch (id) {
    case cmd_show_more:
        show_more();
        return;
    case cmd_show_less:
        show_less();
        return;
    case cmd_select_class:
        select_class();
        return;
    case cmd_reload_all:
        reload_all();
        return;
    case cmd_discover:
        manager_->discover();
        update_buttons();
        return;
    case cmd_add_multiple:
        manager_->add_multiple();
        return;
    case cmd_add:
        add_device();
        return;
    default:
        run_batch_command(id);
        update_buttons();
        return;
    }
}

void CMainDialog::add_device()
{
    if (manager_->add_device(address_->text().toStdString()) == add_result::invalid)
        address_->setFocus(); // to correct what was typed
}

void CMainDialog::reload_all()
{
    if (!manager_->busy().empty())
        return;
    // Every node goes with the tree, so no record may keep a handle to one
    // (insertion skips records that still have a node).
    tree_->clear();
    for (const auto& unit : manager_->group().units()) {
        unit->tree_item = no_tree_node;
        for (const auto& tap : unit->taps)
            tap->tree_item = no_tree_node;
    }
    details_->clear();
    status_[1]->clear();
    status_[2]->clear();
    manager_->refresh_all();
    update_buttons();
}

void CMainDialog::open_about()
{
    CAboutDialog about(this);
    about.exec();
}

void CMainDialog::open_settings()
{
    CSettingsDialog dialog(settings_.values(), store_, ui_, this);
    if (dialog.exec() == QDialog::Accepted)
        settings_.assign(dialog.values());
    update_buttons();
}

void CMainDialog::show_note(const QString& text)
{
    status_[3]->setText(text);
    status_[3]->setToolTip(text); // the part may be narrower than the text
}

void CMainDialog::export_inventory()
{
    std::filesystem::path written;
    if (talvor::export_inventory(*manager_, ui_, &written) == 1)
        show_note(tr("Inventory saved to %1").arg(QString::fromStdString(path_text(written))));
}

void CMainDialog::save_address_list()
{
    std::filesystem::path written;
    if (talvor::save_address_list(*manager_, ui_, &written) != 1)
        return;
    show_note(tr("Address list saved to %1").arg(QString::fromStdString(path_text(written))));
    remember_list(written);
}

void CMainDialog::open_history()
{
    CHistoryDialog history(read_batch_history(batch_log_folder()), this);
    history.exec();
}

void CMainDialog::remember_list(const std::filesystem::path& path)
{
    std::error_code ec;
    const QString file = QString::fromStdString(path_text(std::filesystem::absolute(path, ec)));
    QStringList recent = store_.value(QStringLiteral("Window/RecentLists")).toStringList();
    recent.removeAll(file);
    recent.prepend(file);
    while (recent.size() > recent_lists_kept)
        recent.removeLast();
    store_.set_value(QStringLiteral("Window/RecentLists"), recent);
    // Filled as it opens: this may run from one of its own items.
    recent_menu_->setEnabled(true);
}

void CMainDialog::fill_recent_menu()
{
    recent_menu_->clear();
    const QStringList recent = store_.value(QStringLiteral("Window/RecentLists")).toStringList();
    for (const QString& file : recent)
        recent_menu_->addAction(file, this, [this, file] { manager_->load_address_list(utf8_path(file.toStdString())); });
    recent_menu_->setEnabled(!recent.isEmpty());
}

void CMainDialog::reject()
{
    // Escape never closes the main window; the close box comes through
    // closeEvent.
}

void CMainDialog::closeEvent(QCloseEvent* event)
{
    if (!manager_->busy().empty()) {
        event->ignore();
        return;
    }
    store_.set_value(QStringLiteral("Window/Geometry"), saveGeometry());
    store_.sync();
    // Releases every worker still waiting for the window before it goes.
    manager_->shut_down();
    event->accept();
    done(QDialog::Rejected);
}

} // namespace talvor
