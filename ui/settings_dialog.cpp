#include "ui/settings_dialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ui/dialog_units.h"
#include "ui/settings_store_qt.h"

namespace talvor {

CSettingsDialog::CSettingsDialog(const settings_values& current, qt_settings_store& store, dialogs& ui, QWidget* parent)
    : QDialog(parent), values_(current), store_(store), ui_(ui)
{
    setWindowTitle(tr("Settings"));
    auto* outer = new QVBoxLayout(this);

    auto* tls = new QGroupBox(tr("TLS Certificate Checks"));
    auto* tls_layout = new QVBoxLayout(tls);
    for (int level = 0; level < 3; ++level) {
        const tls_level_text t = tls_level_texts(level);
        levels_[level] = new QRadioButton(QString::fromUtf8(t.radio));
        levels_[level]->setToolTip(QString::fromUtf8(t.tooltip));
        tls_layout->addWidget(levels_[level]);
    }
    outer->addWidget(tls);

    auto* discovery = new QGroupBox(tr("Discovery"));
    auto* discovery_layout = new QVBoxLayout(discovery);
    enable_ = new QCheckBox(tr("Enable"));
    enable_->setToolTip(QString::fromUtf8(discovery_enable_tooltip));
    discovery_layout->addWidget(enable_);
    outer->addWidget(discovery);

    auto* batches = new QGroupBox(tr("Batches"));
    auto* batches_layout = new QHBoxLayout(batches);
    parallel_ = new QSpinBox;
    parallel_->setRange(0, parallel_limit_max);
    parallel_->setSpecialValueText(tr("All"));
    parallel_->setToolTip(tr("The other units wait for their turn"));
    parallel_->setValue(static_cast<int>(parallel_limit(store)));
    batches_layout->addWidget(new QLabel(tr("Units at work at once:")));
    batches_layout->addWidget(parallel_);
    outer->addWidget(batches);
    outer->addStretch(1);

    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton(tr("OK"));
    auto* cancel = new QPushButton(tr("Cancel"));
    ok->setDefault(true);
    ok->setMinimumSize(dlu_size(this, 50, 14));
    cancel->setMinimumSize(dlu_size(this, 50, 14));
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    outer->addLayout(buttons);
    setMinimumSize(dlu_size(this, 155, 148));

    const settings_dialog_state state = open_settings_dialog(current);
    level_button(state.level)->setChecked(true);
    enable_->setChecked(state.enable);

    connect(ok, &QPushButton::clicked, this, &CSettingsDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CSettingsDialog::accept()
{
    settings_dialog_state state;
    state.level = levels_[0]->isChecked() ? 0 : levels_[2]->isChecked() ? 2 : 1;
    state.enable = enable_->isChecked();
    values_ = accept_settings_dialog(state);
    save_settings(store_, values_);
    store_.write_int(settings_section, setting_parallel, parallel_->value());
    // The values still apply to this run when they cannot be kept.
    if (!store_.sync())
        ui_.task_dialog(error_dialog("Settings", "Failed to save the settings",
                                     "The settings could not be written to \"" + store_.file_name() + "\"."));
    QDialog::accept();
}

} // namespace talvor
