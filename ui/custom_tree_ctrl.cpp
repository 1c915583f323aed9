#include "ui/custom_tree_ctrl.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>

namespace talvor {

namespace {
constexpr int data_role = Qt::UserRole;
constexpr int sort_role = Qt::UserRole + 1;
constexpr std::uint32_t colour_bit = 0x80000000u;
} // namespace

// Reports its own check-box changes, so that text or colour changes are
// never taken for a click.
class tree_item final : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    void setData(int column, int role, const QVariant& value) override
    {
        const bool check = role == Qt::CheckStateRole && data(column, role) != value;
        QTreeWidgetItem::setData(column, role, value);
        if (check)
            if (auto* tree = qobject_cast<CCustomTreeCtrl*>(treeWidget()))
                tree->notify_check(this);
    }
    QVariant data(int column, int role) const override
    {
        if (role == Qt::ForegroundRole) {
            const std::uint32_t d = CCustomTreeCtrl::item_data(this);
            if (d & colour_bit)
                return QBrush(QColor(int(d & 0xFF), int((d >> 8) & 0xFF), int((d >> 16) & 0xFF)));
        }
        return QTreeWidgetItem::data(column, role);
    }
};

CCustomTreeCtrl::CCustomTreeCtrl(QWidget* parent) : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::NoSelection); // the tree's selection never changes
    setExpandsOnDoubleClick(false);
    setRootIsDecorated(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

QTreeWidgetItem* CCustomTreeCtrl::add_item(QTreeWidgetItem* parent, const QString& text, std::uint32_t data,
                                           bool checkable, const QString& sort_key)
{
    auto* item = new tree_item(QStringList{text});
    item->setData(0, data_role, QVariant::fromValue(data));
    Qt::ItemFlags flags = Qt::ItemIsEnabled;
    if (checkable) {
        flags |= Qt::ItemIsUserCheckable;
        item->setCheckState(0, Qt::Unchecked); // before it joins the tree: no notification
    }
    item->setFlags(flags);
    item->setData(0, sort_role, sort_key);
    const int count = parent ? parent->childCount() : topLevelItemCount();
    auto sibling = [&](int i) { return parent ? parent->child(i) : topLevelItem(i); };
    int at = count;
    if (!sort_key.isEmpty()) {
        // Binary search: a refresh of thousands of units inserts each once.
        int low = 0;
        while (low < at) {
            const int mid = (low + at) / 2;
            if (sibling(mid)->data(0, sort_role).toString() > sort_key)
                at = mid;
            else
                low = mid + 1;
        }
    }
    if (parent)
        parent->insertChild(at, item);
    else
        insertTopLevelItem(at, item);
    return item;
}

std::uint32_t CCustomTreeCtrl::item_data(const QTreeWidgetItem* item)
{
    return item->data(0, data_role).value<std::uint32_t>();
}

void CCustomTreeCtrl::set_item_data(QTreeWidgetItem* item, std::uint32_t data)
{
    item->setData(0, data_role, QVariant::fromValue(data));
}

bool CCustomTreeCtrl::checkable(const QTreeWidgetItem* item)
{
    return item->flags() & Qt::ItemIsUserCheckable;
}

bool CCustomTreeCtrl::checked(const QTreeWidgetItem* item)
{
    return checkable(item) && item->checkState(0) == Qt::Checked;
}

void CCustomTreeCtrl::mousePressEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid()) {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.rect = visualRect(index);
        option.features |= QStyleOptionViewItem::HasCheckIndicator;
        const QRect box = style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
        const bool on_box = checkable(itemFromIndex(index)) && box.contains(event->position().toPoint());
        if (!on_box) {
            event->accept(); // a press on the label neither selects nor focuses
            return;
        }
    }
    QTreeWidget::mousePressEvent(event);
}

} // namespace talvor
