#pragma once
// The details list: name and value without a header; a value that differs
// across the selection reads "various" in italics.
#include <QTreeWidget>

#include <vector>

#include "inventory/details_rows.h"

namespace talvor {

class CCustomListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CCustomListCtrl(QWidget* parent = nullptr);
    void set_rows(const std::vector<merged_row>& rows);
    // Whether a row shows "various" (its item data).
    static bool various(const QTreeWidgetItem* row);

    static constexpr int name_width = 150;

protected:
    void resizeEvent(QResizeEvent* event) override;
};

} // namespace talvor
