#pragma once
// The device tree: check boxes on units and TAPs, coloured items, and
// clicks on a label that neither select nor focus.
#include <QTreeWidget>

#include <cstdint>

#include "inventory/tree_node.h"

namespace talvor {

class CCustomTreeCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CCustomTreeCtrl(QWidget* parent = nullptr);

    // Appends a node; `parent` null for a root. Item data with the top bit
    // set is a text colour (red in the low byte) in its low 31 bits. With a
    // sort key the node goes before the first sibling whose key is greater,
    // so that siblings given keys stay in their order whatever came first.
    QTreeWidgetItem* add_item(QTreeWidgetItem* parent, const QString& text, std::uint32_t data, bool checkable,
                              const QString& sort_key = {});
    static std::uint32_t item_data(const QTreeWidgetItem* item);
    static void set_item_data(QTreeWidgetItem* item, std::uint32_t data);
    static bool checkable(const QTreeWidgetItem* item);
    static bool checked(const QTreeWidgetItem* item);

    static tree_node node_of(QTreeWidgetItem* item) { return reinterpret_cast<tree_node>(item); }
    static QTreeWidgetItem* item_of(tree_node node) { return reinterpret_cast<QTreeWidgetItem*>(node); }

signals:
    // A check box changed, by the user or by the program.
    void check_changed(QTreeWidgetItem* item, bool checked);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    friend class tree_item;
    void notify_check(QTreeWidgetItem* item) { emit check_changed(item, checked(item)); }
};

} // namespace talvor
