#pragma once
#include <cstdint>

namespace ormelin {

// A colour as the bitmap decoder gives it: 0x00RRGGBB.
constexpr uint32_t packRgb(uint32_t r, uint32_t g, uint32_t b)
{
    return (r << 16) | (g << 8) | b;
}

// The controller's 16-bit pixel: red, green and blue cut to 5 bits in bits 0-4, 5-9 and 10-14;
// bit 15 keeps a trace of the bits cut off, set when their sum is above 10.
constexpr uint16_t encodePixel(uint32_t r, uint32_t g, uint32_t b)
{
    uint32_t value = (r >> 3) | ((g >> 3) << 5) | ((b >> 3) << 10);
    if ((r & 7) + (g & 7) + (b & 7) > 10)
        value |= 0x8000;
    return uint16_t(value);
}

constexpr uint16_t encodePixel(uint32_t rgb)
{
    return encodePixel((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

} // namespace ormelin
