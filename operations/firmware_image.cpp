// Classification of a firmware file: a multi-image archive with a member for
// the product type, else a single image whose header fits the type; either
// may be followed by a DER signature.
#include "operations/firmware_image.h"

#include <algorithm>
#include <functional>
#include <optional>

#include "operations/firmware_formats.h"

namespace talvor {
namespace {

using firmware::byte_span;
using firmware::fits;
using firmware::read_le;

constexpr std::size_t min_single_image = 256;

bool text_at(byte_span bytes, std::size_t at, std::string_view text)
{
    return fits(bytes, at, text.size()) && std::equal(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// A length field is only believed when it stays inside the file.
std::optional<std::size_t> length_at(byte_span bytes, std::size_t at)
{
    if (!fits(bytes, at, 4))
        return std::nullopt;
    const std::size_t length = read_le(bytes, at, 4);
    if (length > bytes.size())
        return std::nullopt;
    return length;
}

// Multi-Port TAP images carry this text; Orvane Meter images share their
// header but not the text. Every character of it is printable, so finding
// it in the raw bytes is finding it in their printable copy.
bool is_multi_port_tap(byte_span bytes)
{
    static constexpr std::string_view marker = " 11ZKR502 (BUS_TAP) ";
    static const std::boyer_moore_horspool_searcher searcher(marker.begin(), marker.end());
    const auto* begin = reinterpret_cast<const char*>(bytes.data());
    const auto* end = begin + bytes.size();
    return std::search(begin, end, searcher) != end;
}

std::uint32_t module_flag(std::uint32_t type)
{
    switch (type) {
    case class_talvor_3phase_meter: return 0x01 | 0x10;
    case class_dc_sense_tap: return 0x02;
    case class_rail_module: return 0x04;
    case class_contact_module: return 0x08;
    case class_trunk_module: return 0x10;
    case class_ferro_module: return 0x20;
    default: return 0;
    }
}

std::optional<std::size_t> single_image_length(byte_span bytes, std::uint32_t type)
{
    if (bytes.size() < min_single_image)
        return std::nullopt;
    switch (type) {
    case class_multi_port_tap:
    case class_orvane_meter:
        if (!text_at(bytes, 0x34, "ZT") || is_multi_port_tap(bytes) != (type == class_multi_port_tap))
            return std::nullopt;
        return length_at(bytes, 0x20);
    case class_talvor_3phase_meter:
    case class_dc_sense_tap:
    case class_rail_module:
    case class_contact_module:
    case class_trunk_module:
    case class_ferro_module:
        if (!text_at(bytes, 0x1C, "iZKR") && !text_at(bytes, 0x1C, "5uES"))
            return std::nullopt;
        if (!fits(bytes, 0x24, 4) || (read_le(bytes, 0x24, 4) & module_flag(type)) == 0)
            return std::nullopt;
        return length_at(bytes, 0x20);
    case class_orvane_system:
    case class_talvor_system:
        if (!text_at(bytes, 0, "gUwF") || !fits(bytes, 0x0C, 2) ||
            read_le(bytes, 0x0C, 2) != (type == class_orvane_system ? 522u : 622u))
            return std::nullopt;
        return length_at(bytes, 0x04);
    case class_rail_module_fpga:
        if (auto length = firmware::lattice_length(bytes))
            return length;
        return firmware::xilinx_length(bytes);
    case class_ambient_hub:
        if (!text_at(bytes, 0x1C, "BFWI") || !fits(bytes, 0x20, 4) || read_le(bytes, 0x20, 4) >> 16 != 0x0301)
            return std::nullopt;
        return length_at(bytes, 0x28);
    default:
        return std::nullopt;
    }
}

// Whatever follows the image proper must be a signature.
bool signed_or_bare(byte_span bytes, std::size_t length)
{
    return length == bytes.size() || firmware::well_formed_der(bytes.subspan(length));
}

} // namespace

std::string_view firmware_part_id(std::uint32_t product_type)
{
    switch (product_type) {
    case class_talvor_3phase_meter: return "0622me";
    case class_rail_module: return "0640me";
    case class_contact_module: return "0664me";
    case class_talvor_system: return "0622co";
    case class_trunk_module: return "0727me";
    case class_ferro_module: return "0810me";
    case class_rail_module_fpga: return "0640fp";
    default: return {};
    }
}

int firmware_image::classify(std::uint32_t product_type)
{
    if (type != class_unknown)
        return product_type == type ? 1 : 0;
    const byte_span bytes(*data);

    // An archive is not held to the single image's minimum size.
    const std::string_view part_id = firmware_part_id(product_type);
    if (!part_id.empty()) {
        const firmware::archive archive = firmware::read_archive(bytes);
        const bool has_member = std::any_of(archive.names.begin(), archive.names.end(), [&](const std::string& name) {
            return name.size() == 8 && name.starts_with(part_id);
        });
        if (archive.length != 0 && has_member && signed_or_bare(bytes, archive.length)) {
            is_multi = 1;
            image_length = static_cast<std::uint32_t>(archive.length);
            type = product_type;
            return 1;
        }
    }

    const std::optional<std::size_t> length = single_image_length(bytes, product_type);
    if (!length || !signed_or_bare(bytes, *length))
        return 0;
    is_multi = 0;
    image_length = static_cast<std::uint32_t>(*length);
    type = product_type;
    return 1;
}

} // namespace talvor
