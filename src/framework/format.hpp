#pragma once
// printf-style formatting into a std::string: the one formatter for every fixed message,
// report line and dump row of both models, whatever the length of the result.
#include <cstdio>
#include <string>

namespace ami {

template <class... Args>
std::string Format(const char* format, Args... args) {
    const int length = std::snprintf(nullptr, 0, format, args...);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

}  // namespace ami
