#pragma once
// The settings dialog: the TLS check level, whether discovery may run, and
// how many units a batch keeps at work at once.
#include <QDialog>

#include "inventory/app_settings.h"
#include "inventory/dialogs.h"

class QCheckBox;
class QRadioButton;
class QSpinBox;

namespace talvor {

class qt_settings_store;

class CSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // `current` is the caller's copy; `ui` reports a store that cannot be written.
    CSettingsDialog(const settings_values& current, qt_settings_store& store, dialogs& ui, QWidget* parent = nullptr);
    // After OK: the values written (the caller copies them into AppSettings).
    settings_values values() const { return values_; }

    QRadioButton* level_button(int level) const { return levels_[level < 0 || level > 2 ? 1 : level]; }
    QCheckBox* enable_box() const { return enable_; }
    QSpinBox* parallel_box() const { return parallel_; }

    void accept() override;

private:
    settings_values values_;
    qt_settings_store& store_;
    dialogs& ui_;
    QRadioButton* levels_[3] = {};
    QCheckBox* enable_ = nullptr;
    QSpinBox* parallel_ = nullptr;
};

} // namespace talvor
