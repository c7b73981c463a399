#include "engine/adaptation/stimulus_pattern.hpp"

#include <initializer_list>

namespace {

// Packs bits (most significant first, four per digit) into "0x" + upper-case hexadecimal.
std::string PackHex(const std::vector<int>& bits) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (std::size_t i = 0; i + 3 < bits.size(); i += 4) {
        const int value = bits[i] << 3 | bits[i + 1] << 2 | bits[i + 2] << 1 | bits[i + 3];
        text += digits[value];
    }
    return text;
}

// b[i] = XOR of b[i - tap] over the taps, after the given seed bits.
std::vector<int> ShiftRegister(std::vector<int> bits, std::initializer_list<int> taps,
                               std::size_t count) {
    while (bits.size() < count) {
        int next = 0;
        for (int tap : taps) next ^= bits[bits.size() - static_cast<std::size_t>(tap)];
        bits.push_back(next);
    }
    return bits;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

}  // namespace

const std::string& SweepPattern() {
    static const std::string pattern =
        PackHex(ShiftRegister(std::vector<int>(14, 1), {2, 3, 13, 14}, 16384));
    return pattern;
}

const std::string& DefaultPattern() {
    static const std::string pattern = PackHex(ShiftRegister({1, 0, 1, 0, 1, 1, 0}, {6, 7}, 508));
    return pattern;
}

std::vector<std::int32_t> ExpandPattern(const std::string& pattern) {
    const bool hex = pattern.starts_with("0x");
    const bool binary = pattern.starts_with("0b");
    const std::string& text = (hex || binary) ? pattern : DefaultPattern();
    std::vector<std::int32_t> symbols;
    if (binary) {
        symbols.reserve(text.size() - 2);
        for (std::size_t i = 2; i < text.size(); ++i) symbols.push_back(text[i] == '0' ? -1 : 1);
        return symbols;
    }
    symbols.reserve(4 * (text.size() - 2));
    for (std::size_t i = 2; i < text.size(); ++i) {
        const int value = HexValue(text[i]);
        for (int bit = 3; bit >= 0; --bit) symbols.push_back((value >> bit) & 1 ? 1 : -1);
    }
    return symbols;
}

std::vector<std::int32_t> ExpandPattern(const std::string& pattern, std::size_t symbolCount) {
    const std::vector<std::int32_t> period = ExpandPattern(pattern);
    std::vector<std::int32_t> symbols;
    if (period.empty()) return symbols;
    symbols.reserve(symbolCount);
    for (std::size_t i = 0; i < symbolCount; ++i) symbols.push_back(period[i % period.size()]);
    return symbols;
}
