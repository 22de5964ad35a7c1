#include "sim/enc_maker.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

std::vector<std::uint8_t> CutIntoFrames(std::span<const std::uint8_t> payload, unsigned bodySize) {
    std::vector<std::uint8_t> image;
    if (bodySize == 0) {
        return image;
    }
    image.reserve(payload.size() + 2 * (payload.size() / bodySize + 1));
    for (std::size_t offset = 0; offset < payload.size(); offset += bodySize) {
        const std::size_t length = std::min<std::size_t>(bodySize, payload.size() - offset);
        image.push_back(static_cast<std::uint8_t>(length >> 8));
        image.push_back(static_cast<std::uint8_t>(length & 0xFF));
        const auto body = payload.subspan(offset, length);
        image.insert(image.end(), body.begin(), body.end());
    }
    return image;
}

std::string HexText(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

std::vector<std::uint8_t> PseudoRandomBytes(std::size_t size, std::uint32_t seed) {
    std::uint32_t state = seed != 0 ? seed : 0x9E3779B9u;  // xorshift never leaves zero
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& b : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

bool WriteUpdateFile(const std::string& path, std::span<const std::uint8_t> payload,
                     unsigned bodySize, std::string& error) {
    const std::string text = HexText(CutIntoFrames(payload, bodySize));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out || !out.write(text.data(), static_cast<std::streamsize>(text.size())) ||
        !out.flush()) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
