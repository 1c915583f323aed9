// Any file, classified for every product type: no read outside the bytes,
// and what is accepted keeps the image's invariants.
#include <cstdint>
#include <cstdlib>

#include "operations/firmware_image.h"

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace talvor;
    const auto bytes = std::make_shared<const byte_vector>(data, data + size);
    for (std::uint32_t type = class_unknown; type <= class_ambient_hub; ++type) {
        firmware_image image;
        image.data = bytes;
        if (!image.classify(type))
            continue;
        require(image.type == type);
        require(image.image_length <= size);
        require(!image.is_multi || !firmware_part_id(type).empty());
        require(image.classify(type) == 1);
        require(image.classify(type == class_ambient_hub ? class_multi_port_tap : type + 1) == 0);
    }
    return 0;
}
