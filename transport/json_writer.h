#pragma once
// A minimal streaming JSON writer for talvorctl's --json output and the
// inventory export. Strings are escaped properly: serials and descriptions
// may hold quotes, backslashes and control bytes.
#include <string>
#include <string_view>
#include <vector>

#include "transport/json_quote.h"

namespace talvor {

class json_writer {
public:
    void begin_object();
    void end_object();
    void begin_array();
    void end_array();
    void key(std::string_view name);
    void value(std::string_view text);
    void value(const char* text) { value(std::string_view(text)); }
    void value(long long number);
    void value(int number) { value(static_cast<long long>(number)); }
    void value(bool flag);
    void null();
    // The text, or null when it is empty (a value not known).
    void text_or_null(std::string_view text)
    {
        if (text.empty())
            null();
        else
            value(text);
    }

    const std::string& text() const { return out_; }

private:
    void separate();
    std::string out_;
    std::vector<bool> first_; // per open container: no element written yet
    bool after_key_ = false;
};

} // namespace talvor
