#pragma once
// The image last loaded for each product type, so that a further update of
// the same type can reuse it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>

#include "operations/firmware_image.h"

namespace talvor {

// 32-bit FNV-1a over the code's four bytes, low byte first.
struct product_type_hash {
    std::size_t operator()(std::uint32_t type) const noexcept;
};

class CFirmwareCache {
public:
    // Keeps a copy under the image's type, replacing an earlier one.
    void store(const firmware_image& image);
    bool contains(std::uint32_t type) const;
    // The held image (sharing its bytes), or nothing.
    std::optional<firmware_image> find(std::uint32_t type) const;

private:
    std::unordered_map<std::uint32_t, firmware_image, product_type_hash> images_;
};

} // namespace talvor
