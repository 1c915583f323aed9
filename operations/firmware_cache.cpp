#include "operations/firmware_cache.h"

namespace talvor {

std::size_t product_type_hash::operator()(std::uint32_t type) const noexcept
{
    std::uint32_t hash = 2166136261u;
    for (int i = 0; i < 4; ++i) {
        hash ^= type >> (8 * i) & 0xFF;
        hash *= 16777619u;
    }
    return hash;
}

void CFirmwareCache::store(const firmware_image& image)
{
    images_.insert_or_assign(image.type, image);
}

bool CFirmwareCache::contains(std::uint32_t type) const
{
    return images_.contains(type);
}

std::optional<firmware_image> CFirmwareCache::find(std::uint32_t type) const
{
    const auto found = images_.find(type);
    if (found == images_.end())
        return std::nullopt;
    return found->second;
}

} // namespace talvor
