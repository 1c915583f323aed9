#include "ui/password_dialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialog_units.h"

namespace talvor {

CPasswordDialog::CPasswordDialog(const password_request& r, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QString::fromStdString(r.caption));
    auto* outer = new QVBoxLayout(this);
    auto* group = new QGroupBox(QString::fromStdString(r.group_title));
    auto* inner = new QVBoxLayout(group);
    inner->setContentsMargins(dlu_x(this, 16), dlu_y(this, 9), dlu_x(this, 16), dlu_y(this, 7));
    // The unit inside the dialog, not only in its caption: prompts of
    // several units may follow one another.
    unit_ = new QLabel(QString::fromStdString(r.unit));
    unit_->setTextFormat(Qt::PlainText);
    unit_->setWordWrap(true);
    QFont bold = unit_->font();
    bold.setBold(true);
    unit_->setFont(bold);
    unit_->setVisible(!r.unit.empty());
    inner->addWidget(unit_);
    refusal_ = new QLabel(QString::fromStdString(r.refusal));
    refusal_->setTextFormat(Qt::PlainText);
    refusal_->setWordWrap(true);
    refusal_->setStyleSheet(QStringLiteral("color: #c00000"));
    refusal_->setVisible(!r.refusal.empty());
    inner->addWidget(refusal_);
    edit_ = new QLineEdit;
    edit_->setEchoMode(QLineEdit::Password);
    edit_->setMinimumSize(dlu_size(this, 147, 14));
    inner->addWidget(edit_);
    inner->addSpacing(dlu_y(this, 12));
    show_ = new QCheckBox(QString::fromStdString(r.show_text));
    inner->addWidget(show_);
    outer->addWidget(group);

    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton(tr("OK"));
    auto* cancel = new QPushButton(tr("Cancel"));
    ok->setDefault(true);
    ok->setMinimumSize(dlu_size(this, 50, 14));
    cancel->setMinimumSize(dlu_size(this, 50, 14));
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    outer->addLayout(buttons);
    setMinimumSize(dlu_size(this, 193, 107));

    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(show_, &QCheckBox::toggled, this, &CPasswordDialog::toggle_shown);
    edit_->setFocus();
}

void CPasswordDialog::toggle_shown(bool shown)
{
    if (shown) {
        saved_mode_ = edit_->echoMode();
        edit_->setEchoMode(QLineEdit::Normal);
    } else {
        edit_->setEchoMode(saved_mode_);
    }
    edit_->repaint();
}

std::string CPasswordDialog::password() const
{
    return edit_->text().toStdString();
}

} // namespace talvor
