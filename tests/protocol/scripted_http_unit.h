#pragma once
// A plain HTTP unit on port 80 of one loopback address that answers each
// request as a test scripts it and records what it received.
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace talvor::test {

struct http_seen {
    std::string method;
    std::string target;
    std::string body;
};

struct http_answer {
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers; // e.g. Set-Cookie
};

using http_script = std::function<http_answer(const http_seen&)>;

class scripted_http_unit {
public:
    scripted_http_unit(const std::string& ip, http_script script);
    ~scripted_http_unit();

    std::vector<http_seen> requests() const;

    struct impl;

private:
    std::unique_ptr<impl> impl_;
};

} // namespace talvor::test
