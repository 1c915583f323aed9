#include "ui/new_password_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "inventory/password_text.h"
#include "ui/dialog_units.h"

namespace talvor {

CNewPasswordDialog::CNewPasswordDialog(const new_password_request& r, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QString::fromStdString(r.title));
    auto* outer = new QVBoxLayout(this);
    auto* group = new QGroupBox(QString::fromStdString(r.main_instruction));
    auto* form = new QFormLayout(group);
    first_ = new QLineEdit;
    second_ = new QLineEdit;
    for (QLineEdit* e : {first_, second_}) {
        e->setEchoMode(QLineEdit::Password);
        e->setMinimumWidth(dlu_x(this, 120));
    }
    form->addRow(QString::fromStdString(r.first_label) + ':', first_);
    form->addRow(QString::fromStdString(r.second_label) + ':', second_);
    show_ = new QCheckBox(QString::fromStdString(r.show_text));
    form->addRow(show_);
    outer->addWidget(group);

    // The reason the last entry was refused, next to what is typed again.
    error_ = new QLabel(QString::fromStdString(r.error));
    error_->setWordWrap(true);
    error_->setStyleSheet(QStringLiteral("color: #b00020"));
    error_->setVisible(!r.error.empty());
    outer->addWidget(error_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    outer->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(show_, &QCheckBox::toggled, this, [this](bool shown) {
        for (QLineEdit* e : {first_, second_})
            e->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
    });
    first_->setFocus();
}

CNewPasswordDialog::~CNewPasswordDialog()
{
    first_->clear();
    second_->clear();
}

new_password_entry CNewPasswordDialog::take_entry()
{
    std::string a = first_->text().toStdString();
    std::string b = second_->text().toStdString();
    first_->clear();
    second_->clear();
    return new_password_entry(a, b);
}

} // namespace talvor
