#pragma once
// The two persisted settings, their load rules and the store they live in.
#include <atomic>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace talvor {

inline constexpr std::string_view application_name = "Talvor Manager";
inline constexpr std::string_view settings_company = "Quillon";
inline constexpr std::string_view settings_section = "Settings";
inline constexpr std::string_view setting_discover = "Discover";
inline constexpr std::string_view setting_tls_checks = "TLSChecks";
// The window's pace for batches: at most this many units at work at once
// (absent or 0: all at once). Kept beside the two settings, but written by
// the settings dialog alone, after them.
inline constexpr std::string_view setting_parallel = "ParallelUnits";
inline constexpr int parallel_limit_max = 999;

// A plain copy of the settings (what the settings dialog edits).
struct settings_values {
    int discover_flags = 0; // bit 0: discovery over IPv4 allowed; bit 1 kept on load
    int tls_checks = 1;     // 0 None, 1 Standard, 2 Strict
};

// The running copy. Atomic: the UI thread writes it while workers read
// tls_checks and the discovery command reads discover_flags.
class AppSettings {
public:
    std::atomic<int> discover_flags{0};
    std::atomic<int> tls_checks{1};

    settings_values values() const { return {discover_flags.load(), tls_checks.load()}; }
    void assign(const settings_values& v)
    {
        discover_flags.store(v.discover_flags);
        tls_checks.store(v.tls_checks);
    }
};

// A per-user key-value store of integers by section and name.
class settings_store {
public:
    virtual ~settings_store() = default;
    // Nothing when the value is absent or not an integer that fits.
    virtual std::optional<int> read_int(std::string_view section, std::string_view name) = 0;
    virtual void write_int(std::string_view section, std::string_view name, int value) = 0;
};

// Reads both values: "Discover" (absent 0) masked with 3; "TLSChecks"
// (absent 1) kept only when exactly 0 or 2, else 1.
settings_values load_settings(settings_store& store);
// Writes "Discover" then "TLSChecks". Only the settings dialog's OK calls it.
void save_settings(settings_store& store, const settings_values& values);

// "ParallelUnits" as a batch takes it: out of 0..parallel_limit_max is 0.
std::size_t parallel_limit(settings_store& store);

// The settings dialog's state and its OK rule.
struct settings_dialog_state {
    int level = 1;       // the checked radio button: 0 None, 1 Standard, 2 Strict
    bool enable = false; // "Enable" discovery
};
settings_dialog_state open_settings_dialog(const settings_values& current);
// The values OK stores: bit 1 of discover_flags is not carried over.
settings_values accept_settings_dialog(const settings_dialog_state& state);

struct tls_level_text {
    const char* radio;
    const char* tooltip;
};
tls_level_text tls_level_texts(int level);
inline constexpr const char* discovery_enable_tooltip = "Allow discovery over IPv4 networking";

// Keeps values in memory (tests, and a front end without a per-user store).
class memory_settings_store final : public settings_store {
public:
    std::optional<int> read_int(std::string_view section, std::string_view name) override;
    void write_int(std::string_view section, std::string_view name, int value) override;
    int writes() const;

private:
    mutable std::mutex lock_;
    std::map<std::string, int> values_;
    int writes_ = 0;
};

} // namespace talvor
