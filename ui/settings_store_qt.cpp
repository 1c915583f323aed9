#include "ui/settings_store_qt.h"

#include <QSettings>
#include <QString>
#include <QVariant>

#include <limits>

namespace talvor {

namespace {
QString key_of(std::string_view section, std::string_view name)
{
    return QString::fromUtf8(section.data(), static_cast<qsizetype>(section.size())) + QLatin1Char('/')
        + QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}
} // namespace

qt_settings_store::qt_settings_store()
    : settings_(std::make_unique<QSettings>(QString::fromUtf8(settings_company.data(), settings_company.size()),
                                            QString::fromUtf8(application_name.data(), application_name.size())))
{
}

qt_settings_store::qt_settings_store(const std::string& ini_path)
    : settings_(std::make_unique<QSettings>(QString::fromStdString(ini_path), QSettings::IniFormat))
{
}

qt_settings_store::~qt_settings_store() = default;

std::optional<int> qt_settings_store::read_int(std::string_view section, std::string_view name)
{
    const QVariant v = settings_->value(key_of(section, name));
    if (!v.isValid())
        return std::nullopt;
    // A damaged value must count as absent (then the defaults apply), never
    // as 0: a stored "TLSChecks" of "abc" must not turn the checks off.
    bool ok = false;
    const qlonglong n = v.toString().trimmed().toLongLong(&ok, 10);
    if (!ok || n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(n);
}

void qt_settings_store::write_int(std::string_view section, std::string_view name, int value)
{
    settings_->setValue(key_of(section, name), value);
}

bool qt_settings_store::sync()
{
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

QVariant qt_settings_store::value(const QString& key) const
{
    return settings_->value(key);
}

void qt_settings_store::set_value(const QString& key, const QVariant& value)
{
    settings_->setValue(key, value);
}

std::string qt_settings_store::file_name() const
{
    return settings_->fileName().toStdString();
}

} // namespace talvor
