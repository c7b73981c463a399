#include "engine/interpolation/interpolation_error.hpp"

#include <cstdio>

#include "engine/interpolation/interpolation.hpp"

void RaiseInterpolationError(const std::string& message, int line, const char* file) {
    std::printf("ERROR: %s\n     in file %s at line %d\n", message.c_str(), file, line);
    std::fflush(stdout);
    throw InterpolationError(message);
}
