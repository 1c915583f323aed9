#include "operations/address_list_save.h"

#include <algorithm>

#include "inventory/address_list.h"
#include "inventory/dialogs.h"
#include "operations/config_file.h"
#include "operations/unit_manager.h"
#include "transport/path_text.h"

namespace talvor {

namespace {

// A comment runs to the end of its line: a line break the unit sent in its
// description must not start an item of its own.
std::string one_line(const std::string& text)
{
    std::string out = text;
    std::replace_if(out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; },
                    ' ');
    return out;
}

} // namespace

std::string address_list_text(const std::vector<const CHubDevice*>& units)
{
    std::vector<const CHubDevice*> sorted = units;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const CHubDevice* a, const CHubDevice* b) { return a->address < b->address; });
    std::string out = "# Talvor Manager address list: " + std::to_string(sorted.size()) +
                      (sorted.size() == 1 ? " unit" : " units") + "\r\n";
    for (const CHubDevice* u : sorted) {
        std::string line = u->address_string();
        std::string note = one_line(u->serial);
        if (!u->description.empty())
            note += (note.empty() ? "" : " ") + one_line(u->description);
        if (!note.empty())
            line += "    # " + note;
        out += line + "\r\n";
    }
    return out;
}

int save_address_list(unit_manager& manager, dialogs& ui, std::filesystem::path* written)
{
    constexpr const char* title = "Save Address List";
    // A unit at work has not been read yet (or is being read again): its
    // address is listed all the same.
    std::vector<const CHubDevice*> units;
    for (const auto& u : manager.group().units())
        units.push_back(u.get());
    if (units.empty())
        return 0;
    file_request request;
    request.title = title;
    request.filter = address_file_filter;
    request.save = true;
    request.default_name = "units.txt";
    request.default_extension = "txt";
    request.overwrite_prompt = true;
    const auto chosen = ui.choose_file(request);
    if (!chosen)
        return 0;
    const std::string text = address_list_text(units);
    std::string reason;
    if (replace_file_safely(*chosen, byte_vector(text.begin(), text.end()), reason) != 0) {
        ui.task_dialog(error_dialog(title, "Cannot write \"" + path_text(chosen->filename()) + "\"", reason));
        return -1;
    }
    if (written)
        *written = *chosen;
    return 1;
}

} // namespace talvor
