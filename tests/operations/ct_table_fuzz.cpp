// The CT type table reader on any bytes: it never fails silently, a table it
// accepts becomes JSON our own reader takes, and names carry nothing that
// could break out of their string.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "operations/ct_table.h"
#include "transport/json_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    std::vector<talvor::ct_type_row> rows;
    const int r = talvor::load_ct_table(in, rows);
    if (r < 0)
        std::abort();
    std::vector<talvor::ct_type_row> again;
    if (in.substr(0, 3) != "\xEF\xBB\xBF" && talvor::load_ct_table("\xEF\xBB\xBF" + std::string(in), again) != r)
        std::abort(); // a byte order mark changes nothing
    if (r != 0)
        return 0;
    for (const auto& row : rows)
        for (char c : row.name)
            if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20)
                std::abort();
    auto json = talvor::json_parser::from(talvor::ct_types_json(rows));
    if (!json)
        std::abort();
    const std::size_t list = json->find(talvor::json_parser::root, "CTs_update");
    if (!json->is(list, talvor::json_type::array) || json->tokens[list].size != static_cast<int>(rows.size()))
        std::abort();
    return 0;
}
