#include "protocol/zt_hub.h"

namespace talvor {

std::uint32_t problems_allowed_by(int tls_checks)
{
    switch (tls_checks) {
    case 0:
        return problem_identity | problem_untrusted | problem_invalid | problem_unencrypted;
    case 1:
        return problem_identity;
    default:
        return 0;
    }
}

} // namespace talvor
