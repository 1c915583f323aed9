#include "simulator/hubsim.h"

#include <stdexcept>

namespace talvor::sim {

struct fleet_server::impl {};

fleet_server::fleet_server(std::string_view, const std::filesystem::path&)
{
    throw std::runtime_error("talvor-hubsim: not built yet");
}
fleet_server::~fleet_server() = default;

} // namespace talvor::sim
