#pragma once
// Bit patterns of the adaptation's stimulus and their expansion into symbols.
//
// A pattern is a text: "0x" followed by hexadecimal digits (four bits each, most significant bit
// first) or "0b" followed by one character per bit. Two patterns are built in, generated from
// their shift-register rules:
//   - the sweep pattern: 16384 bits (4096 digits) of the 14-stage register
//     b[i] = b[i-2] ^ b[i-3] ^ b[i-13] ^ b[i-14] started from all ones ("0xFFFC...");
//   - the default pattern: 508 bits (127 digits, four periods of PRBS-7, x^7 + x^6 + 1) starting
//     1, 0, 1, 0, 1, 1, 0 ("0xADEC..."), used for any text without a prefix. With its prefix it is
//     129 characters long.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

const std::string& SweepPattern();
const std::string& DefaultPattern();

// Symbols of a pattern: +1 for a one, -1 for a zero. "0x": the digits 0-9, A-F, a-f; any other
// character counts as "0" (four -1). "0b": -1 for "0", +1 for any other character. A text with
// neither prefix expands the default pattern.
std::vector<std::int32_t> ExpandPattern(const std::string& pattern);

// As above, repeated (or cut) to exactly `symbolCount` symbols, the way a pattern generator
// repeats its pattern. A pattern without any bit gives no symbols.
std::vector<std::int32_t> ExpandPattern(const std::string& pattern, std::size_t symbolCount);
