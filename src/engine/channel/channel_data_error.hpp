#pragma once
// Raised by the channel and adaptation utilities when the data they are handed cannot be used
// (mismatched parallel lists, a column outside a table, non-finite samples). The text names
// what was wrong, so that the adaptation can report it as its reason for not running.
#include <stdexcept>
#include <string>

class ChannelDataError : public std::runtime_error {
  public:
    explicit ChannelDataError(const std::string& message) : std::runtime_error(message) {}
};
