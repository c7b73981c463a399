#pragma once
// Signal-processing exceptions (filters and buffers), separate from the parameter family.
#include <string>

class TsException {
  public:
    explicit TsException(std::string text) : text_(std::move(text)) {}
    virtual ~TsException() = default;
    std::string GetText() const { return text_; }

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
