#include "ui/about_dialog.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "inventory/app_settings.h"
#include "ui/dialog_units.h"
#include "ui/ui_resources.h"

#ifndef TALVOR_VERSION_MAJOR
#define TALVOR_VERSION_MAJOR 0
#define TALVOR_VERSION_MINOR 0
#define TALVOR_VERSION_PATCH 0
#define TALVOR_VERSION_TWEAK 0
#endif

namespace talvor {

QString version_text(int major, int minor, int build, int extra)
{
    QString v = QStringLiteral("v%1.%2.%3").arg(major).arg(minor).arg(build);
    if (extra != 0)
        v += QStringLiteral("+%1").arg(extra);
    return v;
}

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent)
{
    ensure_resources();
    setWindowTitle(QStringLiteral("About \"%1\"").arg(QString::fromUtf8(application_name.data(), application_name.size())));
    auto* outer = new QVBoxLayout(this);
    outer->setSizeConstraint(QLayout::SetFixedSize); // follows the licence being shown or hidden

    auto* banner = new QLabel;
    banner->setPixmap(QPixmap(QStringLiteral(":/talvor/banner.png")));
    banner->setAlignment(Qt::AlignCenter);
    banner->setMinimumSize(dlu_size(this, 279, 58));
    outer->addWidget(banner);

    product_ = new QLabel(QStringLiteral("\nVeltrano\n\nMeter Management Tool\n\n")
                          + version_text(TALVOR_VERSION_MAJOR, TALVOR_VERSION_MINOR, TALVOR_VERSION_PATCH,
                                         TALVOR_VERSION_TWEAK));
    product_->setTextFormat(Qt::PlainText);
    product_->setAlignment(Qt::AlignCenter);
    product_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    product_->setMinimumSize(dlu_size(this, 279, 59));
    outer->addWidget(product_);

    auto* link = new QLabel(QStringLiteral("<a href=\"https://veltrano.example/\">Veltrano</a>"));
    link->setTextFormat(Qt::RichText);
    link->setOpenExternalLinks(true);
    link->setAlignment(Qt::AlignCenter);
    outer->addWidget(link);

    auto* buttons = new QHBoxLayout;
    more_ = new QPushButton;
    auto* close = new QPushButton(tr("Close"));
    close->setDefault(true);
    more_->setAutoDefault(false);
    more_->setMinimumSize(dlu_size(this, 50, 14));
    close->setMinimumSize(dlu_size(this, 50, 14));
    buttons->addStretch(1);
    buttons->addWidget(more_);
    buttons->addStretch(2);
    buttons->addWidget(close);
    buttons->addStretch(1);
    outer->addLayout(buttons);

    licence_ = new QPlainTextEdit;
    licence_->setReadOnly(true);
    licence_->setMinimumSize(dlu_size(this, 279, 91));
    QFile text(QStringLiteral(":/talvor/jsmn_licence.txt"));
    if (text.open(QIODevice::ReadOnly))
        licence_->setPlainText(QString::fromLatin1(text.readAll())); // one character per byte
    outer->addWidget(licence_);

    connect(more_, &QPushButton::clicked, this, &CAboutDialog::toggle);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    toggle(); // opens collapsed, reading "More"
}

void CAboutDialog::toggle()
{
    expanded_ = !expanded_;
    licence_->setVisible(expanded_);
    more_->setText(expanded_ ? tr("Less") : tr("More"));
}

} // namespace talvor
