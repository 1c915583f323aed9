#include "operations/ct_table.h"

#include <charconv>
#include <cmath>

namespace talvor {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
bool is_space(char c) { return is_blank(c) || c == '\n' || c == '\r'; }
bool ends_field(char c) { return c == ',' || c == '\n' || c == '\r'; }

// A whole decimal number 0..4294967295, written as a C floating-point
// literal ("1", "1.0", "1e3"), surrounded by white space only. Read without
// the C locale's help: a window that set a locale with a decimal comma
// must not refuse "1.0".
bool read_value(const std::string& text, std::uint32_t& out)
{
    const char* p = text.data();
    const char* end = p + text.size();
    while (p != end && is_space(*p))
        ++p;
    if (p != end && *p == '+' && p + 1 != end && *(p + 1) != '-')
        ++p;
    double v = 0;
    auto [used, ec] = std::from_chars(p, end, v, std::chars_format::general);
    if (ec != std::errc() || used == p || *(used - 1) < '0' || *(used - 1) > '9')
        return false;
    for (const char* q = used; q != end; ++q)
        if (!is_space(*q))
            return false;
    if (!(v >= 0 && v <= 4294967295.0) || std::trunc(v) != v)
        return false;
    out = static_cast<std::uint32_t>(v);
    return true;
}

std::string clean_name(const std::string& text)
{
    std::string s = text;
    for (char& c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f || c == '"' || c == '&' || c == '\'' || c == '<' || c == '>' || c == '\\' ||
            c == '|')
            c = '?';
    }
    return s;
}

} // namespace

int CSVParser::parse(std::string_view in)
{
    line = 1;
    column = 0;
    std::size_t pos = 0;
    if (in.substr(0, 3) == "\xEF\xBB\xBF")
        pos = 3;
    const std::size_t n = in.size();
    while (true) {
        // Only a line may end the input before it starts: after a comma the
        // end of the input is an empty last field of that line.
        if (column == 0 && pos >= n)
            return 0;
        std::size_t i = pos;
        while (i < n && !ends_field(in[i]) && in[i] != '"')
            ++i;
        std::string field;
        if (i < n && in[i] == '"') {
            for (std::size_t k = pos; k < i; ++k)
                if (!is_blank(in[k]))
                    return line;
            ++i;
            while (true) {
                const std::size_t q = in.find('"', i);
                if (q == std::string_view::npos)
                    return line;
                field.append(in.substr(i, q - i));
                if (q + 1 < n && in[q + 1] == '"') {
                    field += '"';
                    i = q + 2;
                    continue;
                }
                i = q + 1;
                break;
            }
            while (i < n && is_blank(in[i]))
                ++i;
            if (i < n && !ends_field(in[i]))
                return line;
        } else {
            field.assign(in.substr(pos, i - pos));
        }
        if (int r = on_field(field))
            return r;
        ++column;
        if (i < n && in[i] == ',') {
            pos = i + 1;
            continue;
        }
        if (int r = on_line_end())
            return r;
        if (n - i < 2)
            return 0;
        ++line;
        column = 0;
        const bool pair = (in[i] == '\r' && in[i + 1] == '\n') || (in[i] == '\n' && in[i + 1] == '\r');
        pos = i + (pair ? 2 : 1);
    }
}

int ct_type_parser::on_field(const std::string& text)
{
    std::uint32_t* values[] = {&row_.factor1, &row_.factor2, &row_.phcal1, &row_.phcal2};
    if (column == 0) {
        row_.name = clean_name(text);
        return 0;
    }
    if (column > 4 || !read_value(text, *values[column - 1]))
        return line;
    return 0;
}

int ct_type_parser::on_line_end()
{
    if (column != 5)
        return line;
    rows_.push_back(std::move(row_));
    row_ = {};
    return 0;
}

int load_ct_table(std::string_view bytes, std::vector<ct_type_row>& rows)
{
    rows.clear();
    ct_type_parser parser(rows);
    return parser.parse(bytes);
}

std::string ct_parse_failure_text(int line) { return "Parsing failed at line " + std::to_string(line); }

std::string ct_types_json(const std::vector<ct_type_row>& rows)
{
    std::string s = "{ \"CTs_update\": [";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ct_type_row& r = rows[i];
        if (i)
            s += ',';
        s += " { \"name\": \"" + r.name + "\", \"factor\": [ " + std::to_string(r.factor1) + ", " +
             std::to_string(r.factor2) + " ], \"PHCAL\": [ " + std::to_string(r.phcal1) + ", " +
             std::to_string(r.phcal2) + " ] }";
    }
    return s + " ] }";
}

} // namespace talvor
