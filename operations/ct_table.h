#pragma once
// CT type tables: a CSV reader that reports fields and line ends to a
// handler, the handler that checks and collects CT type rows, and the JSON
// text the units take them in.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talvor {

class CSVParser {
public:
    virtual ~CSVParser() = default;
    // 0 on success; else the handler's nonzero result or, for a malformed
    // quoted field, the line number.
    int parse(std::string_view bytes);

protected:
    // Each returns 0 to go on, or the value that stops the parse.
    virtual int on_field(const std::string& text) = 0;
    virtual int on_line_end() = 0;

    int line = 1;   // counted from 1
    int column = 0; // fields already reported on this line
};

struct ct_type_row {
    std::string name;
    std::uint32_t factor1 = 0;
    std::uint32_t factor2 = 0;
    std::uint32_t phcal1 = 0;
    std::uint32_t phcal2 = 0;
};

// Name, two factors and two PHCAL values per line; fails with the line
// number of the first line that is not exactly that.
class ct_type_parser final : public CSVParser {
public:
    explicit ct_type_parser(std::vector<ct_type_row>& rows) : rows_(rows) {}

protected:
    int on_field(const std::string& text) override;
    int on_line_end() override;

private:
    std::vector<ct_type_row>& rows_;
    ct_type_row row_;
};

// 0 with the rows, or the failing line number (rows then incomplete).
int load_ct_table(std::string_view bytes, std::vector<ct_type_row>& rows);
// "Parsing failed at line N".
std::string ct_parse_failure_text(int line);
// { "CTs_update": [ { "name": "X", "factor": [ 1, 2 ], "PHCAL": [ 3, 4 ] } ] }
std::string ct_types_json(const std::vector<ct_type_row>& rows);

} // namespace talvor
