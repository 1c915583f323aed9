#pragma once
// The user's settings in QSettings, shared by the GUI and the command-line
// front end: organisation "Quillon", application "Talvor Manager".
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "inventory/app_settings.h"

class QSettings;
class QString;
class QVariant;

namespace talvor {

class qt_settings_store final : public settings_store {
public:
    // The user's own store.
    qt_settings_store();
    // An INI file at `ini_path` (tests, portable installs).
    explicit qt_settings_store(const std::string& ini_path);
    ~qt_settings_store() override;

    std::optional<int> read_int(std::string_view section, std::string_view name) override;
    void write_int(std::string_view section, std::string_view name, int value) override;
    // Writes pending changes to disk now (QSettings also does so later);
    // false when the store could not be written.
    bool sync();
    // Where the values live, for messages.
    std::string file_name() const;
    // The window's own state beside the settings (folders, recent lists,
    // geometry), under its own keys ("Section/Name").
    QVariant value(const QString& key) const;
    void set_value(const QString& key, const QVariant& value);

private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace talvor
