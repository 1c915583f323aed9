#include "inventory/app_settings.h"

namespace talvor {

settings_values load_settings(settings_store& store)
{
    settings_values v;
    v.discover_flags = store.read_int(settings_section, setting_discover).value_or(0) & 3;
    const int level = store.read_int(settings_section, setting_tls_checks).value_or(1);
    v.tls_checks = (level == 0 || level == 2) ? level : 1;
    return v;
}

void save_settings(settings_store& store, const settings_values& values)
{
    store.write_int(settings_section, setting_discover, values.discover_flags);
    store.write_int(settings_section, setting_tls_checks, values.tls_checks);
}

std::size_t parallel_limit(settings_store& store)
{
    const int n = store.read_int(settings_section, setting_parallel).value_or(0);
    return n < 0 || n > parallel_limit_max ? 0 : static_cast<std::size_t>(n);
}

settings_dialog_state open_settings_dialog(const settings_values& current)
{
    settings_dialog_state s;
    s.level = (current.tls_checks == 0 || current.tls_checks == 2) ? current.tls_checks : 1;
    s.enable = (current.discover_flags & 1) != 0;
    return s;
}

settings_values accept_settings_dialog(const settings_dialog_state& state)
{
    settings_values v;
    v.tls_checks = 1;
    if (state.level == 0)
        v.tls_checks = 0;
    else if (state.level == 2)
        v.tls_checks = 2;
    v.discover_flags = state.enable ? 1 : 0;
    return v;
}

tls_level_text tls_level_texts(int level)
{
    switch (level) {
    case 0:
        return {"None", "TLS certificates are not checked"};
    case 2:
        return {"Strict", "TLS certificates must be valid and trusted, and must match the unit's address"};
    default:
        return {"Standard", "TLS certificates must be valid and trusted"};
    }
}

namespace {
std::string key_of(std::string_view section, std::string_view name)
{
    std::string k(section);
    k += '/';
    k += name;
    return k;
}
} // namespace

std::optional<int> memory_settings_store::read_int(std::string_view section, std::string_view name)
{
    std::lock_guard<std::mutex> g(lock_);
    auto it = values_.find(key_of(section, name));
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

void memory_settings_store::write_int(std::string_view section, std::string_view name, int value)
{
    std::lock_guard<std::mutex> g(lock_);
    values_[key_of(section, name)] = value;
    ++writes_;
}

int memory_settings_store::writes() const
{
    std::lock_guard<std::mutex> g(lock_);
    return writes_;
}

} // namespace talvor
