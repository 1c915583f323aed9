#include "inventory/unit_info.h"

namespace talvor {

int read_unit_information(CHubDevice&) { return -1; }

} // namespace talvor
