#include "ui/about_dialog.h"

#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

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

namespace {

// Every licence of the libraries in the program, in the order offered.
constexpr std::pair<const char*, const char*> carried_licences[] = {
    {"jsmn", ":/talvor/jsmn_licence.txt"},
    {"Qt (LGPL version 3)", ":/talvor/qt_licence.txt"},
    {"OpenSSL", ":/talvor/openssl_licence.txt"},
    {"Boost", ":/talvor/boost_licence.txt"},
    {"MinGW-w64 runtime", ":/talvor/mingw_runtime_licence.txt"},
};

} // namespace

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

    choice_ = new QComboBox;
    licence_ = new QPlainTextEdit;
    licence_->setReadOnly(true);
    licence_->setMinimumSize(dlu_size(this, 279, 91));
    // What this build carries: a platform's build leaves out the resources
    // of what it does not ship (the MinGW runtime outside Windows).
    for (const auto& [name, resource] : carried_licences) {
        QFile text(QString::fromLatin1(resource));
        if (text.open(QIODevice::ReadOnly))
            choice_->addItem(QString::fromLatin1(name), QString::fromLatin1(text.readAll())); // one character per byte
    }
    connect(choice_, &QComboBox::currentIndexChanged, this,
            [this](int i) { licence_->setPlainText(choice_->itemData(i).toString()); });
    licence_->setPlainText(choice_->itemData(0).toString());
    // The texts come broken into lines of their own: wide enough for the
    // longest, rather than wrapped again into ragged ones.
    licence_->setLineWrapMode(QPlainTextEdit::NoWrap);
    int widest = 0;
    for (int i = 0; i < choice_->count(); ++i)
        for (const QString& line : choice_->itemData(i).toString().split(QLatin1Char('\n')))
            widest = std::max(widest, licence_->fontMetrics().horizontalAdvance(line));
    const int chrome = 2 * licence_->frameWidth() + licence_->verticalScrollBar()->sizeHint().width() +
                       2 * int(licence_->document()->documentMargin()) + 4;
    licence_->setMinimumWidth(std::min(widest + chrome, licence_->fontMetrics().averageCharWidth() * 100));
    outer->addWidget(choice_);
    outer->addWidget(licence_);

    connect(more_, &QPushButton::clicked, this, &CAboutDialog::toggle);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    toggle(); // opens collapsed, reading "More"
}

void CAboutDialog::toggle()
{
    expanded_ = !expanded_;
    choice_->setVisible(expanded_);
    licence_->setVisible(expanded_);
    more_->setText(expanded_ ? tr("Less") : tr("More"));
}

} // namespace talvor
