#pragma once
// A firmware file held in memory and classified against the product type
// of the units it is meant for: single image or multi-image archive, where
// the image proper ends, and whether a signature follows it.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

#include "inventory/code_tables.h"
#include "transport/conn_sess.h"

namespace talvor {

struct firmware_image {
    int is_multi = 0;                    // 1 for a multi-image archive
    std::uint32_t type = class_unknown;  // the product type it was classified for
    std::uint32_t image_length = 0;      // bytes of the image proper; the rest is the signature
    // The whole file as read. Shared, so the cache and every unit's job use
    // one copy of a large image.
    std::shared_ptr<const byte_vector> data = std::make_shared<const byte_vector>();
    std::filesystem::path source; // the file it was read from

    // 1 when accepted for `product_type` (sets is_multi, type, image_length),
    // else 0. An image is classified once: a later call for another type fails.
    int classify(std::uint32_t product_type);
    std::size_t size() const { return data->size(); }
    bool has_signature() const { return image_length < size(); }
};

// The member-name prefix of a product type's image inside a multi-image
// archive; empty for the types only accepted as single images.
std::string_view firmware_part_id(std::uint32_t product_type);

} // namespace talvor
