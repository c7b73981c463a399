#pragma once
// Failure of the FFT service (a length it cannot transform, a buffer too short, tables it
// cannot allocate).
#include <stdexcept>
#include <string>

class FftError : public std::runtime_error {
  public:
    explicit FftError(const std::string& message) : std::runtime_error(message) {}
};
