#pragma once
// Line reader and number parsers for the text files of the transmitter database.
#include <optional>
#include <string>
#include <vector>

namespace v10kx_ami_tx {

// Longest line the database format allows (the readers' line buffer holds 1024 characters).
inline constexpr std::size_t kMaxTextLineLength = 1023;

struct TextLines {
    bool opened = false;             // false: the file could not be opened
    std::vector<std::string> lines;  // only lines that were terminated by a line feed
    std::string error;               // non-empty: the file is unusable (e.g. a line too long)
};

// Reads every line terminated by a line feed; a CR right before the line feed is dropped, and a
// last line without a line feed is not kept.
TextLines ReadTextLines(const std::string& path);

// Stream extraction of a double; an empty line or a failed extraction gives 0.0, trailing text
// is ignored.
double ParseLenient(const std::string& text);

// Stream extraction of a double that must consume the whole text (not even trailing blanks).
std::optional<double> ParseFull(const std::string& text);

}  // namespace v10kx_ami_tx
