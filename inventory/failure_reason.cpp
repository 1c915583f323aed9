#include "inventory/failure_reason.h"

#include "inventory/app_settings.h"
#include "transport/conn_sess.h"

namespace talvor {

namespace {

const char* window_text(unit_failure reason)
{
    switch (reason) {
    case unit_failure::no_answer:
        return "no answer";
    case unit_failure::unreachable:
        return "connection failed";
    case unit_failure::no_client:
        return "answers, but neither as an HTTP nor as a WebSocket unit";
    case unit_failure::security_refused:
        return "refused: its security problems were not accepted";
    case unit_failure::password_cancelled:
        return "login failed: password prompt cancelled";
    case unit_failure::login_refused:
        return "login failed: password refused";
    case unit_failure::read_failed:
        return "its information could not be read";
    case unit_failure::duplicate:
        return "already listed";
    case unit_failure::none:
        break;
    }
    return "not known";
}

// The lowest TLS check level that accepts the problems: the standard level
// lets a name mismatch pass, only "none" the rest.
int level_accepting(std::uint32_t problems)
{
    return (problems & ~problem_identity) == 0 ? 1 : 0;
}

std::string lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

} // namespace

std::string security_problem_words(std::uint32_t problems)
{
    static constexpr struct {
        std::uint32_t bit;
        const char* word;
    } words[] = {
        {problem_unencrypted, "unencrypted"},
        {problem_invalid, "invalid certificate"},
        {problem_untrusted, "untrusted certificate"},
        {problem_identity, "name mismatch"},
    };
    std::string out;
    for (const auto& w : words)
        if (problems & w.bit)
            out += (out.empty() ? "" : ", ") + std::string(w.word);
    return out;
}

std::string failure_reason(unit_failure failure, std::uint32_t problems, reason_words words)
{
    const bool window = words == reason_words::window;
    if (failure != unit_failure::security_refused || problems == 0)
        return window ? window_text(failure) : failure_text(failure);
    const std::string level = tls_level_texts(level_accepting(problems)).radio;
    // Trusting the certificate mends an unknown issuer, never an expired
    // or otherwise invalid certificate.
    const bool trust = (problems & problem_untrusted) && !(problems & problem_invalid);
    if (window)
        return "refused (" + security_problem_words(problems) +
               "): add it again and answer Yes to its security question, or set the TLS Certificate Checks in "
               "Settings to " + level;
    return "security refused (" + security_problem_words(problems) + "): connect anyway with --accept-insecure" +
           (trust ? ", trust its certificate with trust-cert" : "") + ", or lower the checks with --tls-checks " +
           lower(level);
}

} // namespace talvor
