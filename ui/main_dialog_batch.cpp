// The batch commands of the action buttons and their menus (each batch
// logged, a firmware update verified when its confirmation asked for it,
// and run again on its failed units when asked), and the context menu of a
// unit.
#include "ui/main_dialog.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QUrl>

#include <map>

#include "inventory/details_rows.h"
#include "operations/batch_report.h"
#include "operations/commands.h"
#include "operations/firmware_verify.h"
#include "transport/path_text.h"
#include "ui/custom_tree_ctrl.h"
#include "ui/settings_store_qt.h"

namespace talvor {

void CMainDialog::run_batch_command(int id)
{
    static const std::map<int, int (*)(batch_context&)> commands = {
        {cmd_update_firmware, [](batch_context& c) { return OnFirmwareUpdate(c, nullptr); }},
        {cmd_download_configuration, [](batch_context& c) { return OnDownloadConfiguration(c); }},
        {cmd_upload_configuration, [](batch_context& c) { return OnUploadConfiguration(c, nullptr); }},
        {cmd_upload_ct_types, [](batch_context& c) { return OnUploadCtTypes(c, nullptr); }},
        {cmd_restart_selected, [](batch_context& c) { return OnRestart(c); }},
        {cmd_erase_sd_card, [](batch_context& c) { return OnEraseSdCard(c); }},
        {cmd_upload_customization, [](batch_context& c) { return OnUploadCustomization(c, nullptr, 1); }},
        {cmd_remove_customization, [](batch_context& c) { return OnUploadCustomization(c, nullptr, 0); }},
        {cmd_upload_certificate, [](batch_context& c) { return OnUploadCertificate(c, nullptr); }},
        {cmd_upload_private_key, [](batch_context& c) { return OnUploadCertificateKey(c); }},
        {cmd_regenerate_certificate, [](batch_context& c) { return OnRegenerateFallbackCertificate(c); }},
        {cmd_delete_certificate, [](batch_context& c) { return OnEraseCertificate(c); }},
        {cmd_change_password, [](batch_context& c) { return OnChangePassword(c); }},
    };
    const auto it = commands.find(id);
    if (it != commands.end())
        run_batch([this, run = it->second] { return run(*batch_); });
}

int CMainDialog::run_batch(const std::function<int()>& command)
{
    for (;;) {
        batch_->parallel = parallel_limit(store_);
        int result = command();
        // 0: the command ended before any job; 2 without outcomes: nothing
        // was dispatched. Either way there is no batch to record.
        if (result == 0 || batch_->outcomes().empty())
            return result;
        // Its own progress window follows the update's; a retry asked for
        // in the first still comes after the check.
        if (batch_->verify_chosen) {
            const int verified = verify_firmware(*batch_, verify_timeout_default);
            if (verified != 2 && result != IDRETRY)
                result = verified;
        }
        if (append_batch_log(batch_report(*batch_)) != 0)
            qWarning("talvor-manager: cannot write the batch log in %s", path_text(batch_log_folder()).c_str());
        if (result != IDRETRY || batch_->select_failed() == 0)
            return result;
        show_selection();
    }
}

void CMainDialog::show_selection()
{
    unit_group& group = manager_->group();
    group.raise_check_guard(); // the marks follow the model, not the other way round
    auto mark = [](tree_node node, int selected) {
        if (QTreeWidgetItem* item = CCustomTreeCtrl::item_of(node))
            item->setCheckState(0, selected ? Qt::Checked : Qt::Unchecked);
    };
    for (const auto& unit : group.units()) {
        mark(unit->tree_item, unit->selected);
        for (const auto& tap : unit->taps)
            mark(tap->tree_item, tap->selected);
    }
    group.lower_check_guard();
    if (!filter_->text().isEmpty())
        apply_filter(); // what is checked shows
    update_status();
    update_buttons();
    refresh_details();
}

CHubDevice* CMainDialog::unit_at(QTreeWidgetItem* item) const
{
    if (!item)
        return nullptr;
    const tree_node node = CCustomTreeCtrl::node_of(item);
    for (const auto& unit : manager_->group().units())
        if (unit->tree_item == node)
            return unit.get();
    return nullptr;
}

std::unique_ptr<QMenu> CMainDialog::unit_menu(CHubDevice& unit)
{
    auto menu = std::make_unique<QMenu>(this);
    const std::string url = unit_browser_url(unit);
    QAction* browse = menu->addAction(tr("Open in browser"));
    browse->setEnabled(!url.empty());
    connect(browse, &QAction::triggered, this,
            [url] { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); });

    // Only a WebSocket session presents a certificate of its own.
    QAction* trust = menu->addAction(tr("Trust Certificate"));
    trust->setEnabled(unit_protocol(unit) == protocol_wss);
    CHubDevice* u = &unit;
    connect(trust, &QAction::triggered, this, [this, u] { trust_unit_certificate(*batch_, *u); });

    menu->addSeparator();
    connect(menu->addAction(tr("Copy details")), &QAction::triggered, this, [u] {
        std::vector<details_row> rows;
        unit_details_rows(*u, rows);
        QString text;
        for (const auto& [name, value] : rows)
            text += QString::fromStdString(name) + QStringLiteral(": ") + QString::fromStdString(value)
                + QLatin1Char('\n');
        QGuiApplication::clipboard()->setText(text);
    });
    connect(menu->addAction(tr("Copy address")), &QAction::triggered, this,
            [u] { QGuiApplication::clipboard()->setText(QString::fromStdString(u->address_string())); });
    QAction* remove = menu->addAction(tr("Remove from list"));
    remove->setEnabled(manager_->can_remove(unit));
    if (!remove->isEnabled())
        remove->setToolTip(tr("Not while units are at work"));
    connect(remove, &QAction::triggered, this, [this, u] { remove_unit(*u); });

    // Like the action buttons, it acts on the checked units, not on this one.
    menu->addSeparator();
    QAction* password = menu->addAction(tr("Change Password ..."));
    password->setEnabled(change_password_->isEnabled());
    connect(password, &QAction::triggered, this, [this] { run_command(cmd_change_password); });
    return menu;
}

bool CMainDialog::remove_unit(CHubDevice& unit)
{
    if (!manager_->can_remove(unit))
        return false;
    // The nodes go first: the record's handles to them go with it.
    if (QTreeWidgetItem* node = item_of(unit)) {
        QTreeWidgetItem* type_node = node->parent();
        delete node;
        if (type_node && type_node->childCount() == 0)
            delete type_node;
    }
    unit.tree_item = no_tree_node;
    for (const auto& tap : unit.taps)
        tap->tree_item = no_tree_node;
    manager_->remove_listed(unit);
    update_status();
    update_buttons();
    refresh_details();
    return true;
}

void CMainDialog::tree_context_menu(const QPoint& pos)
{
    CHubDevice* unit = unit_at(tree_->itemAt(pos));
    if (!unit)
        return;
    std::unique_ptr<QMenu> menu = unit_menu(*unit);
    menu->exec(tree_->viewport()->mapToGlobal(pos));
}

} // namespace talvor
