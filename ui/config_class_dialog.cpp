#include "ui/config_class_dialog.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/dialog_units.h"

namespace talvor {

namespace {
constexpr int data_role = Qt::UserRole;
} // namespace

std::uint32_t CConfigClassDialog::row_data(const QListWidgetItem* row)
{
    return row->data(data_role).toUInt();
}

CConfigClassDialog::CConfigClassDialog(const std::vector<category_row>& rows, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Configuration Category Selection"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* outer = new QVBoxLayout(this);
    auto* box = new QGroupBox(tr("Configuration Categories"));
    auto* inner = new QVBoxLayout(box);
    auto* top = new QHBoxLayout;
    select_all_ = new QPushButton(tr("Select All"));
    deselect_all_ = new QPushButton(tr("Deselect All"));
    for (QPushButton* b : {select_all_, deselect_all_}) {
        b->setAutoDefault(false);
        b->setMinimumSize(dlu_size(this, 50, 14));
    }
    top->addStretch(1);
    top->addWidget(select_all_);
    top->addStretch(1);
    top->addWidget(deselect_all_);
    top->addStretch(1);
    inner->addLayout(top);
    list_ = new QListWidget;
    list_->setSelectionMode(QAbstractItemView::NoSelection); // rows are ticked, never highlighted
    list_->setMinimumSize(dlu_size(this, 146, 190));
    inner->addWidget(list_, 1);
    outer->addWidget(box, 1);

    auto* bottom = new QHBoxLayout;
    auto* ok = new QPushButton(tr("OK"));
    auto* cancel = new QPushButton(tr("Cancel"));
    ok->setDefault(true);
    ok->setMinimumSize(dlu_size(this, 50, 14));
    cancel->setMinimumSize(dlu_size(this, 50, 14));
    bottom->addStretch(1);
    bottom->addWidget(ok);
    bottom->addStretch(1);
    bottom->addWidget(cancel);
    bottom->addStretch(1);
    outer->addLayout(bottom);

    // The list sorts by name as the rows come in, last entry first; the
    // stable sort keeps that order among equal names.
    std::vector<const category_row*> sorted;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        sorted.push_back(&*it);
    auto name = [](const category_row* r) { return QString::fromLatin1(r->name.data(), qsizetype(r->name.size())); };
    std::stable_sort(sorted.begin(), sorted.end(), [&](const category_row* a, const category_row* b) {
        return name(a).compare(name(b), Qt::CaseInsensitive) < 0;
    });
    for (const category_row* r : sorted) {
        auto* item = new QListWidgetItem(name(r), list_);
        item->setData(data_role, r->available ? r->id : unavailable);
        item->setCheckState(Qt::Unchecked);
        // Disabled rows draw in the grey-text colour and keep their box as it is.
        item->setFlags(r->available ? Qt::ItemIsEnabled | Qt::ItemIsUserCheckable : Qt::NoItemFlags);
    }

    connect(list_, &QListWidget::itemChanged, this, [this] { update_buttons(); });
    connect(select_all_, &QPushButton::clicked, this, [this] { set_all(true); });
    connect(deselect_all_, &QPushButton::clicked, this, [this] { set_all(false); });
    connect(ok, &QPushButton::clicked, this, &CConfigClassDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    update_buttons();
}

void CConfigClassDialog::set_all(bool checked)
{
    for (int i = 0; i < list_->count(); ++i)
        if (row_data(list_->item(i)) < unavailable)
            list_->item(i)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void CConfigClassDialog::update_buttons()
{
    int eligible = 0, checked = 0;
    for (int i = 0; i < list_->count(); ++i) {
        const QListWidgetItem* row = list_->item(i);
        if (row_data(row) >= unavailable)
            continue;
        ++eligible;
        if (row->checkState() == Qt::Checked)
            ++checked;
    }
    select_all_->setEnabled(checked < eligible);
    deselect_all_->setEnabled(checked > 0);
}

void CConfigClassDialog::accept()
{
    chosen_.clear();
    for (int i = list_->count(); i-- > 0;) {
        const QListWidgetItem* row = list_->item(i);
        if (row_data(row) < unavailable && row->checkState() == Qt::Checked)
            chosen_.push_back(row_data(row));
    }
    QDialog::accept();
}

} // namespace talvor
