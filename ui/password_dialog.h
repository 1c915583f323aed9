#pragma once
// The administrator password prompt of one unit.
#include <QDialog>
#include <QLineEdit>

#include <string>

#include "inventory/dialogs.h"

class QCheckBox;
class QLabel;

namespace talvor {

class CPasswordDialog : public QDialog {
    Q_OBJECT
public:
    explicit CPasswordDialog(const password_request& request, QWidget* parent = nullptr);
    // The typed text as UTF-8 (the core turns it into the unit's bytes).
    std::string password() const;

    QLineEdit* edit() const { return edit_; }
    QCheckBox* show_box() const { return show_; }
    QLabel* unit_line() const { return unit_; }
    QLabel* refusal_line() const { return refusal_; }

private:
    void toggle_shown(bool shown);

    QLabel* unit_;
    QLabel* refusal_;
    QLineEdit* edit_;
    QCheckBox* show_;
    // The masking in use before the password was shown.
    QLineEdit::EchoMode saved_mode_ = QLineEdit::Password;
};

} // namespace talvor
