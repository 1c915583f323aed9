#include "ui/custom_list_ctrl.h"

#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>

namespace talvor {

CCustomListCtrl::CCustomListCtrl(QWidget* parent) : QTreeWidget(parent)
{
    setColumnCount(2);
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    setSortingEnabled(false);
    setColumnWidth(0, name_width);
}

bool CCustomListCtrl::various(const QTreeWidgetItem* row)
{
    return row->data(0, Qt::UserRole).toInt() != 0;
}

void CCustomListCtrl::set_rows(const std::vector<merged_row>& rows)
{
    setUpdatesEnabled(false);
    clear();
    QFont italic = font();
    italic.setItalic(true);
    for (const merged_row& r : rows) {
        auto* item = new QTreeWidgetItem(this);
        item->setText(0, QString::fromStdString(r.name));
        item->setData(0, Qt::UserRole, r.various ? 1 : 0);
        item->setText(1, r.various ? QStringLiteral("various") : QString::fromStdString(r.value));
        if (r.various)
            item->setFont(1, italic);
    }
    setUpdatesEnabled(true);
}

void CCustomListCtrl::resizeEvent(QResizeEvent* event)
{
    QTreeWidget::resizeEvent(event);
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    setColumnWidth(1, std::max(0, viewport()->width() - bar - name_width));
}

} // namespace talvor
