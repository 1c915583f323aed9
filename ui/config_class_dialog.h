#pragma once
// The choice of configuration categories for an upload: one check box row
// per category, sorted by name; a category some eligible units lack is
// shown grey and cannot be ticked.
#include <QDialog>

#include <cstdint>
#include <vector>

#include "inventory/dialogs.h"

class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace talvor {

class CConfigClassDialog : public QDialog {
    Q_OBJECT
public:
    explicit CConfigClassDialog(const std::vector<category_row>& rows, QWidget* parent = nullptr);

    // After OK: the ids of the ticked rows, from the last row to the first.
    const std::vector<std::uint32_t>& chosen() const { return chosen_; }

    QListWidget* list() const { return list_; }
    QPushButton* select_all_button() const { return select_all_; }
    QPushButton* deselect_all_button() const { return deselect_all_; }

    void accept() override;

    // Item data of a row that cannot be chosen.
    static constexpr std::uint32_t unavailable = 0x7FFFFFFF;
    static std::uint32_t row_data(const QListWidgetItem* row);

private:
    void set_all(bool checked);
    void update_buttons();

    QListWidget* list_ = nullptr;
    QPushButton* select_all_ = nullptr;
    QPushButton* deselect_all_ = nullptr;
    std::vector<std::uint32_t> chosen_;
};

} // namespace talvor
