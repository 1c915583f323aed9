// The commands of the main window and which of them are enabled.
#include "ui/main_dialog.h"

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QLabel>

#include "ui/about_dialog.h"
#include "ui/custom_list_ctrl.h"
#include "ui/custom_tree_ctrl.h"
#include "ui/settings_dialog.h"
#include "ui/val_edit.h"

namespace talvor {

namespace {
// The batch commands and the capability a selected unit must offer.
constexpr struct {
    int id;
    std::uint32_t capability; // 0: any selection will do
} action_rules[] = {
    {cmd_select_class, 0},
    {cmd_restart_selected, 0},
    {cmd_update_firmware, 0},
    {cmd_download_configuration, cap_config},
    {cmd_upload_configuration, cap_config},
    {cmd_erase_sd_card, cap_sdcard},
    {cmd_upload_customization, cap_customisation},
    {cmd_upload_certificate, cap_certificates},
};
} // namespace

void CMainDialog::update_buttons()
{
    const unit_group& group = manager_->group();
    const bool tree_filled = tree_->topLevelItemCount() != 0;
    const bool selection = group.selected_class != class_unknown;
    // Capabilities count only for a selection of units: with TAPs selected
    // the unit-level actions are off.
    const bool unit_class = group.selected_class == class_orvane_system || group.selected_class == class_talvor_system;
    const std::uint32_t caps = unit_class ? group.selection_capabilities().any : 0;

    command_button(cmd_add)->setEnabled(!address_->text().trimmed().isEmpty());
    command_button(cmd_discover)->setEnabled((settings_.discover_flags.load() & 1) && !manager_->discovery_running());
    for (int id : {cmd_show_more, cmd_show_less, cmd_reload_all})
        command_button(id)->setEnabled(tree_filled);
    command_button(cmd_add_multiple)->setEnabled(true);
    for (const auto& rule : action_rules)
        command_button(rule.id)->setEnabled(selection && (rule.capability == 0 || (caps & rule.capability)));
    if (change_password_)
        change_password_->setEnabled(password_change_enabled());
}

bool CMainDialog::password_change_enabled() const
{
    const int cls = manager_->group().selected_class;
    return (cls == class_orvane_system || cls == class_talvor_system) && manager_->busy().empty();
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
    // Releases every worker still waiting for the window before it goes.
    manager_->shut_down();
    event->accept();
    done(QDialog::Rejected);
}

} // namespace talvor
