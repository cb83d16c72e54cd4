#pragma once

#include <cstdint>

// A colour as the program passes it around: 0x00BBGGRR, red in the low byte,
// the top byte always 0.
using ColorRef = std::uint32_t;

constexpr ColorRef makeColorRef(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return ColorRef(r) | (ColorRef(g) << 8) | (ColorRef(b) << 16);
}
constexpr std::uint8_t redOf(ColorRef c) { return std::uint8_t(c & 0xFF); }
constexpr std::uint8_t greenOf(ColorRef c) { return std::uint8_t((c >> 8) & 0xFF); }
constexpr std::uint8_t blueOf(ColorRef c) { return std::uint8_t((c >> 16) & 0xFF); }

constexpr ColorRef clBlack = 0x00000000;
constexpr ColorRef clWhite = 0x00FFFFFF;
constexpr ColorRef clBlue = 0x00FF0000;
constexpr ColorRef clRed = 0x000000FF;
constexpr ColorRef clGreen = 0x00008000;
constexpr ColorRef clTeal = 0x00808000;
// The pale khaki of the options and About windows.
constexpr ColorRef clWindowKhaki = 11390415; // 0x00ADCDCF
// The resting colour of the About window's link lines.
constexpr ColorRef clLinkRest = 12615808; // 0x00C08080
