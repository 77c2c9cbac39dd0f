// lookup3 (Bob Jenkins, 2006) written out from the published source, byte by byte, as an
// independent reference for the hashes built on it. The tests that use it first check it
// against the published hash values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace grainforge::test::lookup3 {

inline std::uint32_t Rot(std::uint32_t x, int k) { return (x << k) | (x >> (32 - k)); }

inline void Mix(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c)
{
    a -= c; a ^= Rot(c, 4);  c += b;
    b -= a; b ^= Rot(a, 6);  a += c;
    c -= b; c ^= Rot(b, 8);  b += a;
    a -= c; a ^= Rot(c, 16); c += b;
    b -= a; b ^= Rot(a, 19); a += c;
    c -= b; c ^= Rot(b, 4);  b += a;
}

inline void Final(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c)
{
    c ^= b; c -= Rot(b, 14);
    a ^= c; a -= Rot(c, 11);
    b ^= a; b -= Rot(a, 25);
    c ^= b; c -= Rot(b, 16);
    a ^= c; a -= Rot(c, 4);
    b ^= a; b -= Rot(a, 14);
    c ^= b; c -= Rot(b, 24);
}

// hashlittle of `length` bytes.
inline std::uint32_t HashLittle(const void* data, std::size_t length, std::uint32_t initval)
{
    const auto* k = static_cast<const std::uint8_t*>(data);
    std::uint32_t a, b, c;
    a = b = c = 0xdeadbeefu + static_cast<std::uint32_t>(length) + initval;
    const auto word = [](const std::uint8_t* p) {
        return p[0] | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
    };
    for (; length > 12; length -= 12, k += 12) {
        a += word(k);
        b += word(k + 4);
        c += word(k + 8);
        Mix(a, b, c);
    }
    if (length == 0)
        return c;
    std::uint32_t tail[3] = {0, 0, 0};
    for (std::size_t i = 0; i < length; ++i)
        tail[i / 4] += std::uint32_t{k[i]} << (8 * (i % 4));
    a += tail[0];
    b += tail[1];
    c += tail[2];
    Final(a, b, c);
    return c;
}

}  // namespace grainforge::test::lookup3
