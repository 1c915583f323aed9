#include "transport/json_writer.h"

namespace talvor {

void json_writer::separate()
{
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back())
            out_ += ", ";
        first_.back() = false;
    }
}

void json_writer::begin_object()
{
    separate();
    out_ += '{';
    first_.push_back(true);
}

void json_writer::end_object()
{
    first_.pop_back();
    out_ += '}';
}

void json_writer::begin_array()
{
    separate();
    out_ += '[';
    first_.push_back(true);
}

void json_writer::end_array()
{
    first_.pop_back();
    out_ += ']';
}

void json_writer::key(std::string_view name)
{
    separate();
    out_ += json_quote(name);
    out_ += ": ";
    after_key_ = true;
}

void json_writer::value(std::string_view text)
{
    separate();
    out_ += json_quote(text);
}

void json_writer::value(long long number)
{
    separate();
    out_ += std::to_string(number);
}

void json_writer::value(bool flag)
{
    separate();
    out_ += flag ? "true" : "false";
}

void json_writer::null()
{
    separate();
    out_ += "null";
}

} // namespace talvor
