#include "ui/history_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/dialog_units.h"

namespace talvor {

namespace {

constexpr int batch_role = Qt::UserRole;

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

QTreeWidget* make_list(const QStringList& headers)
{
    auto* list = new QTreeWidget;
    list->setColumnCount(int(headers.size()));
    list->setHeaderLabels(headers);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAlternatingRowColors(true);
    list->header()->setStretchLastSection(true);
    return list;
}

QString versions_of(const history_unit& u)
{
    if (u.version_before.empty())
        return {};
    return qs(u.version_before) + (u.version_after.empty() ? QString() : QStringLiteral(" -> ") + qs(u.version_after));
}

} // namespace

CHistoryDialog::CHistoryDialog(std::vector<history_batch> batches, QWidget* parent)
    : QDialog(parent), history_(std::move(batches))
{
    setWindowTitle(tr("Batch History"));
    auto* outer = new QVBoxLayout(this);
    empty_ = new QLabel(tr("No batch has been run yet: every batch is recorded here once it has ended."));
    empty_->setVisible(history_.empty());
    outer->addWidget(empty_);

    auto* split = new QSplitter(Qt::Vertical);
    batches_ = make_list({tr("Time"), tr("Command"), tr("Units"), tr("OK"), tr("Failed")});
    units_ = make_list({tr("Unit"), tr("Result"), tr("Reason"), tr("Version"), tr("File")});
    split->addWidget(batches_);
    split->addWidget(units_);
    outer->addWidget(split, 1);

    // Newest first: the batch just run is the one looked for.
    for (std::size_t i = history_.size(); i-- > 0;) {
        const history_batch& b = history_[i];
        auto* row = new QTreeWidgetItem(batches_, {qs(history_time_text(b.start)), qs(b.command),
                                                   QString::number(b.units.size()), QString::number(b.ok),
                                                   QString::number(b.failed)});
        row->setData(0, batch_role, int(i));
        for (int c = 2; c <= 4; ++c)
            row->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }
    for (int c = 0; c < batches_->columnCount(); ++c)
        batches_->resizeColumnToContents(c);
    // The counts stay beside their headings; the command takes the room.
    batches_->header()->setStretchLastSection(false);
    batches_->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    connect(batches_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        show_units(item ? item->data(0, batch_role).toInt() : -1);
    });
    if (batches_->topLevelItemCount() != 0)
        batches_->setCurrentItem(batches_->topLevelItem(0));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    outer->addWidget(buttons);
    setMinimumSize(dlu_size(this, 320, 220));
    resize(dlu_size(this, 430, 300));
}

void CHistoryDialog::show_units(int batch)
{
    units_->clear();
    if (batch < 0 || std::size_t(batch) >= history_.size())
        return;
    for (const history_unit& u : history_[std::size_t(batch)].units) {
        const QString unit = qs(u.label.empty() ? u.address : u.label);
        auto* row = new QTreeWidgetItem(units_, {unit, qs(u.result), qs(u.reason), versions_of(u), qs(u.file)});
        row->setToolTip(2, qs(u.reason));
        row->setToolTip(4, qs(u.file));
    }
    for (int c = 0; c + 1 < units_->columnCount(); ++c)
        units_->resizeColumnToContents(c);
}

} // namespace talvor
