#pragma once
// Error path shared by the interpolation routines: the line on standard output first (callers
// that only watch the console still see what went wrong), then the typed exception.
#include <stdexcept>
#include <string>

// Raised after the error line has been written to standard output. what() is the bare message
// (e.g. "locate size error"). Callers inside a model let it propagate; the C entry points turn it
// into a clean failure of the call.
class InterpolationError : public std::runtime_error {
  public:
    explicit InterpolationError(const std::string& message) : std::runtime_error(message) {}
};

// Line numbers printed with the four classic messages; kept stable because log scrapers match
// the whole line.
inline constexpr int kLocateSizeErrorLine = 606;
inline constexpr int kHuntSizeErrorLine = 624;
inline constexpr int kPolyInterpErrorLine = 693;
inline constexpr int kRatintErrorLine = 737;

// Writes "ERROR: <message>\n     in file <file> at line <line>\n" to standard output and throws
// InterpolationError(message).
[[noreturn]] void RaiseInterpolationError(const std::string& message, int line,
                                          const char* file = "Interpolation2");
