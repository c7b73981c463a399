#pragma once
// Signal-processing exceptions (filters and buffers), separate from the parameter family but
// rooted, like it, in std::exception; what() is the same text as GetText().
#include <exception>
#include <string>

class TsException : public std::exception {
  public:
    explicit TsException(std::string text) : text_(std::move(text)) {}
    std::string GetText() const { return text_; }
    const char* what() const noexcept override { return text_.c_str(); }

  private:
    std::string text_;
};

class EBadInitializers : public TsException {
  public:
    explicit EBadInitializers(const std::string& detail)
        : TsException("Received bad class initializers: " + detail) {}
};

class EFailedAllocation : public TsException {
  public:
    explicit EFailedAllocation(const std::string& detail)
        : TsException("Failed memory allocation: " + detail) {}
};
