#pragma once
// The new administrator password of a batch, typed twice.
#include <QDialog>

#include "inventory/dialogs.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace talvor {

class CNewPasswordDialog : public QDialog {
    Q_OBJECT
public:
    explicit CNewPasswordDialog(const new_password_request& request, QWidget* parent = nullptr);
    ~CNewPasswordDialog() override;
    // Both entries as UTF-8; the edits are cleared, so the dialog keeps no copy.
    new_password_entry take_entry();

    QLineEdit* first_edit() const { return first_; }
    QLineEdit* second_edit() const { return second_; }
    QCheckBox* show_box() const { return show_; }
    QLabel* error_label() const { return error_; }

private:
    QLineEdit* first_;
    QLineEdit* second_;
    QCheckBox* show_;
    QLabel* error_;
};

} // namespace talvor
