#pragma once
// Small valid firmware files built by the format rules, for the command
// and job tests.
#include <cstdint>
#include <string>

namespace talvor::test {

inline void put32(std::string& s, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A DER tail: one SEQUENCE holding one INTEGER.
inline const std::string der_signature("\x30\x03\x02\x01\x05", 5);

// Talvor System (hardware 622) or Orvane System (522) network firmware.
inline std::string hub_image(std::size_t size, bool signed_ = false, std::uint16_t hardware = 622)
{
    std::string s(size, '\x5a');
    s.replace(0, 4, "gUwF");
    put32(s, 0x04, static_cast<std::uint32_t>(size));
    s[0x0C] = static_cast<char>(hardware & 0xFF);
    s[0x0D] = static_cast<char>(hardware >> 8);
    return signed_ ? s + der_signature : s;
}

// Multi-Port TAP firmware (the TAP-family header with its marker text).
inline std::string multi_port_tap_image(std::size_t size = 512)
{
    std::string s(size, '\x01');
    put32(s, 0x20, static_cast<std::uint32_t>(size));
    s.replace(0x34, 2, "ZT");
    s.replace(0x40, 20, " 11ZKR502 (BUS_TAP) ");
    return s;
}

// Rail Module firmware ("iZKR" header, flag 0x04).
inline std::string rail_module_image(std::size_t size = 512)
{
    std::string s(size, '\x02');
    s.replace(0x1C, 4, "iZKR");
    put32(s, 0x20, static_cast<std::uint32_t>(size));
    put32(s, 0x24, 0x04);
    return s;
}

// Rail Module FPGA image in the Xilinx bit-file form.
inline std::string fpga_image(std::size_t payload = 400)
{
    std::string s(13, '\x00');
    s += 'e';
    for (int shift : {24, 16, 8, 0})
        s += static_cast<char>((payload >> shift) & 0xFF);
    return s + std::string(payload, '\x03');
}

} // namespace talvor::test
