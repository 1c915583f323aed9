#include "cli/user_settings.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>

namespace talvor::cli {

namespace {

std::wstring wide(std::string_view text)
{
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

// Where the window's QSettings keeps them on Windows:
// HKEY_CURRENT_USER\Software\<company>\<application>\<section>, so that
// talvorctl needs no Qt there.
std::wstring key_path(std::string_view section)
{
    return L"Software\\" + wide(settings_company) + L"\\" + wide(application_name) + L"\\" + wide(section);
}

class registry_store final : public settings_store {
public:
    std::optional<int> read_int(std::string_view section, std::string_view name) override
    {
        DWORD type = 0;
        std::wstring data(64, L'\0');
        DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        if (::RegGetValueW(HKEY_CURRENT_USER, key_path(section).c_str(), wide(name).c_str(),
                           RRF_RT_REG_DWORD | RRF_RT_REG_SZ, &type, data.data(), &size) != ERROR_SUCCESS)
            return std::nullopt;
        if (type == REG_DWORD) {
            DWORD v;
            std::memcpy(&v, data.data(), sizeof v);
            return static_cast<int>(v);
        }
        // QSettings writes a value it was given as text as REG_SZ; a damaged
        // one counts as absent, so that the defaults apply.
        data.resize(size / sizeof(wchar_t));
        while (!data.empty() && data.back() == L'\0')
            data.pop_back();
        try {
            std::size_t used = 0;
            const long long n = std::stoll(data, &used, 10);
            if (used != data.size() || n < INT_MIN || n > INT_MAX)
                return std::nullopt;
            return static_cast<int>(n);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    void write_int(std::string_view section, std::string_view name, int value) override
    {
        const DWORD v = static_cast<DWORD>(value);
        ::RegSetKeyValueW(HKEY_CURRENT_USER, key_path(section).c_str(), wide(name).c_str(), REG_DWORD, &v, sizeof v);
    }
};

} // namespace

std::unique_ptr<settings_store> open_user_settings() { return std::make_unique<registry_store>(); }

} // namespace talvor::cli
