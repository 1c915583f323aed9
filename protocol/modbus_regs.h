#pragma once
// The register values of a Modbus read reply.
#include <vector>

#include "transport/json_parser.h"

namespace talvor {

// `regs` must be an array of exactly `count` numbers that fit an int;
// `out` then holds them. 0, or -1 leaving `out` unchanged.
int modbus_regs_from(const json_parser* reply, int count, std::vector<int>& out);

} // namespace talvor
