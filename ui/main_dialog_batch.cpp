// The batch commands of the action buttons and their menus, and the context
// menu of a unit.
#include "ui/main_dialog.h"

#include <QDesktopServices>
#include <QMenu>
#include <QUrl>

#include "operations/commands.h"
#include "ui/custom_tree_ctrl.h"

namespace talvor {

void CMainDialog::run_batch_command(int id)
{
    batch_context& ctx = *batch_;
    switch (id) {
    case cmd_update_firmware:
        OnFirmwareUpdate(ctx, nullptr);
        break;
    case cmd_download_configuration:
        OnDownloadConfiguration(ctx);
        break;
    case cmd_upload_configuration:
        OnUploadConfiguration(ctx, nullptr);
        break;
    case cmd_upload_ct_types:
        OnUploadCtTypes(ctx, nullptr);
        break;
    case cmd_restart_selected:
        OnRestart(ctx);
        break;
    case cmd_erase_sd_card:
        OnEraseSdCard(ctx);
        break;
    case cmd_upload_customization:
        OnUploadCustomization(ctx, nullptr, 1);
        break;
    case cmd_remove_customization:
        OnUploadCustomization(ctx, nullptr, 0);
        break;
    case cmd_upload_certificate:
        OnUploadCertificate(ctx, nullptr);
        break;
    case cmd_upload_private_key:
        OnUploadCertificateKey(ctx);
        break;
    case cmd_regenerate_certificate:
        OnRegenerateFallbackCertificate(ctx);
        break;
    case cmd_delete_certificate:
        OnEraseCertificate(ctx);
        break;
    default:
        break;
    }
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
    return menu;
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
