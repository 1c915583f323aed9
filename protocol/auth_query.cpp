#include "protocol/auth_query.h"

namespace talvor {

std::string with_auth_query(std::string path, const std::optional<std::string>& token)
{
    if (!token)
        return path;
    const auto q = path.find('?');
    if (q == std::string::npos)
        return path + "?auth=" + *token;
    path.insert(q + 1, "auth=" + *token + "&");
    return path;
}

bool csrf_wants_renewal(std::string_view csrf)
{
    for (std::size_t i = 0; i + 1 < csrf.size(); i += 2)
        if (csrf[i] == '0' && csrf[i + 1] == '0')
            return true;
    return false;
}

} // namespace talvor
