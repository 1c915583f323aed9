// The word-selection confirmation.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "operations/batch.h"

namespace talvor {

namespace {

constexpr std::array<const char*, 8> confirm_words{"Apple", "Banana", "Orange", "Lemon",
                                                   "Lime",  "Pineapple", "Kumquat", "Grape"};

// The classic random_shuffle without a generator: Fisher-Yates on rand().
template <std::size_t N> void shuffle_with_rand(std::array<int, N>& a)
{
    for (std::size_t i = 1; i < N; ++i)
        std::swap(a[i], a[static_cast<std::size_t>(std::rand()) % (i + 1)]);
}

// A uniform pick below n from one 32-bit output, as (n * r) >> 32.
int scaled(std::mt19937& rng, std::uint64_t n) { return static_cast<int>((n * std::uint64_t{rng()}) >> 32); }

} // namespace

std::string units_text(int units, int taps)
{
    const auto count = [](int n, const char* what) {
        return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    return taps ? count(taps, "TAP") + " of " + count(units, "unit") : count(units, "unit");
}

std::string size_text(std::uint64_t bytes)
{
    char text[32];
    if (bytes >= 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    else if (bytes >= 1024)
        std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
    else
        std::snprintf(text, sizeof text, "%u bytes", static_cast<unsigned>(bytes));
    return text;
}

int batch_context::ConfirmParanoid(const std::string& instruction, const std::string& title, const std::string& scope,
                                   const std::string* footer, const char* verification, bool* checked)
{
    std::array<int, 8> order{0, 1, 2, 3, 4, 5, 6, 7};
    shuffle_with_rand(order);
    const int hi = scaled(confirm_rng, 8);
    const int right_id = 2000 + hi;

    task_dialog_request r;
    r.title = title;
    r.main_instruction = instruction;
    r.content = std::string("Select \"") + confirm_words[order[hi]] +
                "\" if you are sure you really want to perform this operation";
    if (!scope.empty())
        r.content += "\n\n" + scope;
    r.buttons = button_ok | button_cancel;
    r.default_button = IDCANCEL;
    r.main_icon = dialog_icon::warning;
    if (footer) {
        r.footer = *footer;
        r.footer_icon = dialog_icon::warning;
    }
    for (int n = 8; n >= 1; --n)
        r.radio_buttons.emplace_back(1999 + n, confirm_words[order[n - 1]]);
    const int d = scaled(confirm_rng, 7);
    r.default_radio = 2000 + d + (d >= hi ? 1 : 0);
    r.disabled_buttons = button_ok;
    r.ok_radio = right_id;
    if (verification && checked) {
        r.verification_text = verification;
        r.verification_checked = *checked;
    }

    const task_dialog_answer a = ui.task_dialog(r);
    if (verification && checked)
        *checked = a.verification_checked;
    return a.button == IDOK && a.radio == right_id ? 1 : 0;
}

} // namespace talvor
