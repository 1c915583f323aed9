// Classification of synthetic firmware files of every format, and the cache.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string_view>

#include "operations/firmware_cache.h"
#include "operations/firmware_image.h"

namespace talvor::test {
namespace {

// Appends or patches fields of a synthetic file.
struct file {
    byte_vector b;
    file& raw(std::initializer_list<std::uint8_t> bytes) { b.insert(b.end(), bytes); return *this; }
    file& text(std::string_view s) { b.insert(b.end(), s.begin(), s.end()); return *this; }
    file& fill(std::size_t n, std::uint8_t v = 0) { b.insert(b.end(), n, v); return *this; }
    file& be(std::uint32_t v, int n) { while (n--) b.push_back(v >> 8 * n & 0xFF); return *this; }
    file& le(std::uint32_t v, int n) { for (int i = 0; i < n; ++i) b.push_back(v >> 8 * i & 0xFF); return *this; }
    file& put(std::size_t at, std::uint32_t v, int n = 4)
    {
        for (int i = 0; i < n; ++i) b.at(at + i) = v >> 8 * i & 0xFF;
        return *this;
    }
    file& put(std::size_t at, std::string_view s) { std::copy(s.begin(), s.end(), b.begin() + at); return *this; }
    file& put_be(std::size_t at, std::uint32_t v, int n) { for (int i = 0; i < n; ++i) b.at(at + i) = v >> 8 * (n - 1 - i) & 0xFF; return *this; }
    std::uint32_t size() const { return static_cast<std::uint32_t>(b.size()); }
};

constexpr std::uint32_t whole = ~0u;

struct expect {
    const char* name;
    byte_vector bytes;
    std::uint32_t type;
    int accepted;
    std::uint32_t length = 0;  // image_length when accepted; `whole` for the file size
    int multi = 0;
};

void check(const std::vector<expect>& cases)
{
    for (const expect& c : cases) {
        SCOPED_TRACE(c.name);
        firmware_image image;
        image.data = std::make_shared<const byte_vector>(c.bytes);
        ASSERT_EQ(image.classify(c.type), c.accepted);
        if (!c.accepted) {
            EXPECT_EQ(image.type, std::uint32_t(class_unknown));
            continue;
        }
        EXPECT_EQ(image.type, c.type);
        EXPECT_EQ(image.image_length, c.length == whole ? c.bytes.size() : c.length);
        EXPECT_EQ(image.is_multi, c.multi);
    }
}

file tap(bool marker, std::uint32_t size = 256)
{
    file f;
    f.fill(size).put(0x34, "ZT").put(0x20, size);
    if (marker)
        f.put(0x80, " 11ZKR502 (BUS_TAP) ");
    return f;
}

file module(std::string_view magic, std::uint32_t flags, std::uint32_t size = 256, std::uint32_t length = 256)
{
    file f;
    f.fill(size).put(0x1C, magic).put(0x20, length).put(0x24, flags);
    return f;
}

file hub_system(std::uint16_t hardware)
{
    file f;
    f.fill(256).put(0, "gUwF").put(4, 256).put(0x0C, hardware, 2);
    return f;
}

file ambient(std::uint32_t word = 0x03010007)
{
    file f;
    f.fill(256).put(0x1C, "BFWI").put(0x20, word).put(0x28, 256);
    return f;
}

byte_vector with(file f, std::initializer_list<std::uint8_t> tail) { return f.raw(tail).b; }

TEST(FirmwareImage, SingleImageHeaders)
{
    check({
        {"meter without the TAP text", tap(false).b, class_orvane_meter, 1, 256},
        {"TAP text makes a Multi-Port TAP", tap(true).b, class_multi_port_tap, 1, 256},
        {"TAP text is no meter", tap(true).b, class_orvane_meter, 0},
        {"no TAP text is no Multi-Port TAP", tap(false).b, class_multi_port_tap, 0},
        {"module flag", module("iZKR", 0x04).b, class_rail_module, 1, 256},
        {"alternate magic and flag", module("5uES", 0x10).b, class_talvor_3phase_meter, 1, 256},
        {"another module's flag", module("iZKR", 0x04).b, class_contact_module, 0},
        {"length beyond the file", module("iZKR", 0x04, 256, 257).b, class_rail_module, 0},
        {"255 bytes", module("iZKR", 0x04, 255, 255).b, class_rail_module, 0},
        {"hub system", hub_system(622).b, class_talvor_system, 1, 256},
        {"other hub's hardware id", hub_system(522).b, class_talvor_system, 0},
        {"ambient hub", ambient().b, class_ambient_hub, 1, 256},
        {"ambient word", ambient(0x03020007).b, class_ambient_hub, 0},
        {"signed", with(module("iZKR", 0x20), {0x30, 0x03, 0x02, 0x01, 0x05}), class_ferro_module, 1, 256},
        {"trailing 0x00", with(module("iZKR", 0x20), {0x00}), class_ferro_module, 0},
        {"trailing empty sequence", with(module("iZKR", 0x20), {0x30, 0x00}), class_ferro_module, 1, 256},
        {"unclassified type", ambient().b, class_unknown, 0},
    });
}

// A value wrapped in `depth` sequences, each with a four-byte length.
byte_vector nested(std::size_t depth)
{
    byte_vector inner{0x05, 0x00};
    byte_vector out;
    out.reserve(inner.size() + 6 * depth);
    for (std::size_t level = 0; level < depth; ++level) {
        const std::uint32_t length = static_cast<std::uint32_t>(inner.size() + 6 * (depth - 1 - level));
        out.insert(out.end(), {0x30, 0x84, std::uint8_t(length >> 24), std::uint8_t(length >> 16),
                               std::uint8_t(length >> 8), std::uint8_t(length)});
    }
    out.insert(out.end(), inner.begin(), inner.end());
    return out;
}

byte_vector ambient_with(const byte_vector& tail)
{
    byte_vector b = ambient().b;
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

TEST(FirmwareImage, SignatureTail)
{
    check({
        {"long length form", with(ambient(), {0x04, 0x84, 0, 0, 0, 1, 0xAA}), class_ambient_hub, 1, 256},
        {"two elements", with(ambient(), {0x31, 0x00, 0xA0, 0x02, 0x05, 0x00}), class_ambient_hub, 1, 256},
        {"length 0x80", with(ambient(), {0x04, 0x80}), class_ambient_hub, 0},
        {"length 0x85", with(ambient(), {0x04, 0x85, 0, 0, 0, 0, 1, 0xAA}), class_ambient_hub, 0},
        {"tag not allowed", with(ambient(), {0x07, 0x00}), class_ambient_hub, 0},
        {"contents beyond the end", with(ambient(), {0x30, 0x05, 0x02, 0x01}), class_ambient_hub, 0},
        {"inner contents beyond their parent", with(ambient(), {0x30, 0x03, 0x02, 0x02, 0x00, 0x05, 0x00}),
         class_ambient_hub, 0},
        {"32 levels", ambient_with(nested(32)), class_ambient_hub, 1, 256},
        {"33 levels", ambient_with(nested(33)), class_ambient_hub, 0},
        {"deeply nested", ambient_with(nested(200000)), class_ambient_hub, 0},
    });
}

// One member archive. Its date and CRC fields also make it a Xilinx bit
// file ending where the archive ends, so that a fall-back to the single
// image rules shows.
byte_vector archive(std::string_view name, std::uint16_t method, std::uint32_t stored,
                    std::initializer_list<std::uint8_t> tail = {})
{
    file f;
    f.le(0x04034B50, 4).le(20, 2).le(0, 2).le(method, 2).le(0, 4).le(0, 4).le(stored, 4).le(stored, 4);
    f.le(static_cast<std::uint32_t>(name.size()), 2).le(0, 2).text(name).fill(stored, 0x5A);
    f.le(0x02014B50, 4).fill(24).le(static_cast<std::uint32_t>(name.size()), 2).fill(16).text(name);
    f.le(0x06054B50, 4).fill(16).le(0, 2);
    f.b.at(13) = 'e';
    f.put_be(14, f.size() - 18, 4);
    return f.raw(tail).b;
}

TEST(FirmwareImage, MultiImageArchive)
{
    const std::uint32_t small = static_cast<std::uint32_t>(archive("0622me01", 0, 16).size());
    file beyond{archive("0622me01", 0, 16)};
    beyond.put(18, 0x10000).put(22, 0x10000);
    const byte_vector cut = archive("0622me01", 0, 16);
    check({
        {"small archive", archive("0622me01", 0, 16), class_talvor_3phase_meter, 1, small, 1},
        {"FPGA archive", archive("0640fp01", 0, 256), class_rail_module_fpga, 1, whole, 1},
        {"deflated member falls back", archive("0640fp01", 8, 256), class_rail_module_fpga, 1, whole, 0},
        {"deflated member", archive("0622me01", 8, 16), class_talvor_3phase_meter, 0},
        {"9-character name falls back", archive("0640fp012", 0, 256), class_rail_module_fpga, 1, whole, 0},
        {"signed", archive("0622me01", 0, 16, {0x30, 0x00}), class_talvor_3phase_meter, 1, small, 1},
        {"trailing 0x00", archive("0622me01", 0, 16, {0x00}), class_talvor_3phase_meter, 0},
        {"another type's member", archive("0622me01", 0, 16), class_rail_module, 0},
        {"type without part id", archive("0622me01", 0, 16), class_orvane_meter, 0},
        {"member beyond the file", beyond.b, class_talvor_3phase_meter, 0},
        {"cut end record", byte_vector(cut.begin(), cut.end() - 1), class_talvor_3phase_meter, 0},
    });
}

file lattice(std::uint8_t id_last = 0x43, bool dictionary = true, std::uint16_t short_count = 1)
{
    file f;
    f.text("LSCC").raw({0xFF, 0x00}).fill(200, 'c').raw({0x00, 0xFF}).raw({0xFF, 0xFF, 0xBD, 0xB3});
    f.be(0xFFFFFFFF, 4).raw({0xFF});  // a full padding word, then a lone 0xFF byte
    f.be(0xE2000000, 4).raw({0x31, 0x0F, 0x10, id_last});
    if (dictionary)
        f.be(0x02000000, 4).fill(16);
    f.be(0x82910001, 4).fill(88);
    // One compressed frame: a 10-bit, a 6-bit and 86 one-bit symbols.
    f.be(0xB8D40001, 4).raw({0xC0, 0x20}).fill(11).fill(4, 0xEE);
    f.be(0x72D00000 | short_count, 4).fill(3);
    return f.be(0x5E000000, 4).be(0xFFFFFFFF, 4);
}

// 24 header bytes and `data` bytes of bitstream.
file xilinx(std::uint32_t stream = 240, std::uint8_t key = 'a', std::size_t data = 240)
{
    file f;
    f.fill(13).raw({key}).be(3, 2).text("abc").raw({'e'}).be(stream, 4).fill(data);
    return f;
}

TEST(FirmwareImage, FpgaBitstream)
{
    const byte_vector lattice_file = lattice().b;
    file xilinx_id = lattice(0x44);
    xilinx_id.b.at(13) = 'e';
    xilinx_id.put_be(14, xilinx_id.size() - 18, 4);
    check({
        {"Lattice", lattice_file, class_rail_module_fpga, 1, whole},
        {"signed Lattice", with(lattice(), {0x30, 0x00}), class_rail_module_fpga, 1, lattice().size()},
        {"wrong Lattice id word", lattice(0x44).b, class_rail_module_fpga, 0},
        {"wrong id word, but a Xilinx file", xilinx_id.b, class_rail_module_fpga, 1, whole},
        {"compressed frames without dictionary", lattice(0x43, false).b, class_rail_module_fpga, 0},
        {"bad short count", lattice(0x43, true, 2).b, class_rail_module_fpga, 0},
        {"no end command", byte_vector(lattice_file.begin(), lattice_file.end() - 8), class_rail_module_fpga, 0},
        {"Xilinx", xilinx().b, class_rail_module_fpga, 1, whole},
        {"Xilinx stream beyond the file", xilinx(241).b, class_rail_module_fpga, 0},
        {"Xilinx unknown key", xilinx(240, 'f').b, class_rail_module_fpga, 0},
        {"255-byte Xilinx", xilinx(231, 'a', 231).b, class_rail_module_fpga, 0},
    });
}

TEST(FirmwareImage, ClassifiedOnceAndCached)
{
    firmware_image meter;
    meter.data = std::make_shared<const byte_vector>(tap(false).b);
    EXPECT_EQ(meter.classify(class_orvane_meter), 1);
    EXPECT_EQ(meter.classify(class_multi_port_tap), 0);
    EXPECT_EQ(meter.classify(class_orvane_meter), 1);

    CFirmwareCache cache;
    cache.store(meter);
    firmware_image newer = meter;
    newer.data = std::make_shared<const byte_vector>(tap(false, 300).b);
    cache.store(newer);
    ASSERT_TRUE(cache.contains(class_orvane_meter));
    EXPECT_EQ(cache.find(class_orvane_meter)->data, newer.data);
    EXPECT_FALSE(cache.contains(class_multi_port_tap));
    EXPECT_FALSE(cache.find(class_multi_port_tap));
}

} // namespace
} // namespace talvor::test
