#include "ui/not_added_notice.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "operations/unit_manager.h"

namespace talvor {

CNotAddedNotice::CNotAddedNotice(unit_manager& manager, QWidget* parent)
    : QToolButton(parent), manager_(manager), details_(new QDialog(this)), entries_(new QTreeWidget)
{
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setToolTip(tr("Addresses that were not added, and why"));
    connect(this, &QToolButton::clicked, this, &CNotAddedNotice::toggle_details);

    // A tool window: it stays beside the main window, which keeps working.
    details_->setWindowFlags(Qt::Tool);
    details_->setAttribute(Qt::WA_ShowWithoutActivating);
    details_->setWindowTitle(tr("Addresses not added"));
    entries_->setColumnCount(2);
    entries_->setHeaderLabels({tr("Address"), tr("Reason")});
    entries_->setRootIsDecorated(false);
    entries_->setUniformRowHeights(true);
    entries_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QPushButton* clear = buttons->addButton(tr("Clear"), QDialogButtonBox::ResetRole);
    connect(clear, &QPushButton::clicked, this, [this] { manager_.clear_not_added(); });
    connect(buttons, &QDialogButtonBox::rejected, details_, &QDialog::hide);
    auto* layout = new QVBoxLayout(details_);
    layout->addWidget(entries_);
    layout->addWidget(buttons);
    details_->resize(420, 260);
    update_list();
}

void CNotAddedNotice::update_list()
{
    const auto& list = manager_.not_added().entries();
    const auto n = static_cast<int>(list.size());
    setText(n == 1 ? tr("1 address not added \u2014 details") : tr("%1 addresses not added \u2014 details").arg(n));
    setVisible(n != 0);
    if (n == 0)
        details_->hide();
    // Filled when seen: a discovery may report units one by one.
    if (details_->isVisible())
        fill_entries();
}

void CNotAddedNotice::fill_entries()
{
    entries_->setUpdatesEnabled(false);
    entries_->clear();
    for (const auto& entry : manager_.not_added().entries())
        new QTreeWidgetItem(entries_,
                            {QString::fromStdString(entry.address), QString::fromStdString(not_added_text(entry))});
    entries_->setUpdatesEnabled(true);
    // The latest outcome comes last; keep it in view.
    entries_->scrollToBottom();
}

void CNotAddedNotice::toggle_details()
{
    if (details_->isVisible()) {
        details_->hide();
        return;
    }
    fill_entries();
    details_->show();
}

} // namespace talvor
