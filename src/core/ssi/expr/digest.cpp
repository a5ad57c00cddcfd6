#include "ssi/expr/digest.h"

#include <array>
#include <cstdint>
#include <cstring>

// MD5 (RFC 1321) and SHA-1 (RFC 3174) over bytes, for the md5() and sha1() functions of
// expressions. Small and slow enough for values of a page; never used for security.

namespace {
std::uint32_t rotl(std::uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

// The message padded to whole 64-byte blocks, its bit length at the end in the given byte order.
std::string padded(std::string_view text, bool big_endian) {
    std::string data(text);
    const std::uint64_t bits = static_cast<std::uint64_t>(text.size()) * 8;
    data.push_back('\x80');
    while (data.size() % 64 != 56) data.push_back('\0');
    for (int i = 0; i < 8; ++i)
        data.push_back(static_cast<char>((bits >> (8 * (big_endian ? 7 - i : i))) & 0xffu));
    return data;
}

std::string hex(const unsigned char* bytes, std::size_t size) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(digits[bytes[i] >> 4u]);
        out.push_back(digits[bytes[i] & 15u]);
    }
    return out;
}
}  // namespace

std::string md5_hex(std::string_view text) {
    static constexpr std::uint32_t k[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
        0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
        0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
        0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
        0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
        0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
        0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
    static constexpr unsigned shifts[16] = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};
    std::array<std::uint32_t, 4> h{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    const std::string data = padded(text, false);
    for (std::size_t block = 0; block < data.size(); block += 64) {
        std::uint32_t m[16];
        for (int i = 0; i < 16; ++i) {
            const auto* p = reinterpret_cast<const unsigned char*>(data.data() + block + 4 * i);
            m[i] = p[0] | (p[1] << 8u) | (p[2] << 16u) | (static_cast<std::uint32_t>(p[3]) << 24u);
        }
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (unsigned i = 0; i < 64; ++i) {
            std::uint32_t f;
            unsigned g;
            if (i < 16) f = (b & c) | (~b & d), g = i;
            else if (i < 32) f = (d & b) | (~d & c), g = (5 * i + 1) % 16;
            else if (i < 48) f = b ^ c ^ d, g = (3 * i + 5) % 16;
            else f = c ^ (b | ~d), g = (7 * i) % 16;
            const std::uint32_t next = d;
            d = c;
            c = b;
            b = b + rotl(a + f + k[i] + m[g], shifts[(i / 16) * 4 + i % 4]);
            a = next;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d;
    }
    unsigned char out[16];
    for (int i = 0; i < 16; ++i) out[i] = static_cast<unsigned char>(h[i / 4] >> (8 * (i % 4)));
    return hex(out, sizeof out);
}

std::string sha1_hex(std::string_view text) {
    std::array<std::uint32_t, 5> h{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
    const std::string data = padded(text, true);
    for (std::size_t block = 0; block < data.size(); block += 64) {
        std::uint32_t w[80];
        for (int i = 0; i < 16; ++i) {
            const auto* p = reinterpret_cast<const unsigned char*>(data.data() + block + 4 * i);
            w[i] = (static_cast<std::uint32_t>(p[0]) << 24u) | (p[1] << 16u) | (p[2] << 8u) | p[3];
        }
        for (int i = 16; i < 80; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            std::uint32_t f, k;
            if (i < 20) f = (b & c) | (~b & d), k = 0x5a827999;
            else if (i < 40) f = b ^ c ^ d, k = 0x6ed9eba1;
            else if (i < 60) f = (b & c) | (b & d) | (c & d), k = 0x8f1bbcdc;
            else f = b ^ c ^ d, k = 0xca62c1d6;
            const std::uint32_t t = rotl(a, 5) + f + e + k + w[i];
            e = d;
            d = c;
            c = rotl(b, 30);
            b = a;
            a = t;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
    }
    unsigned char out[20];
    for (int i = 0; i < 20; ++i) out[i] = static_cast<unsigned char>(h[i / 4] >> (8 * (3 - i % 4)));
    return hex(out, sizeof out);
}
