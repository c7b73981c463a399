#pragma once
// Parameter-problem exceptions. Each holds one text: its class prefix followed by the detail.
// The C entry points turn any of them into a failed AMI_Init carrying that text. Like every
// exception family of the project they derive from std::exception, so one handler at the C
// interface catches whatever a model throws; what() is the same text as GetText().
#include <exception>
#include <string>

class AmiException : public std::exception {
  public:
    explicit AmiException(std::string text) : text_(std::move(text)) {}
    std::string GetText() const { return text_; }
    const char* what() const noexcept override { return text_.c_str(); }

  private:
    std::string text_;
};

class EFailedParse : public AmiException {
  public:
    explicit EFailedParse(const std::string& detail) : AmiException("Parse failed at: " + detail) {}
};

class EBadParamValue : public AmiException {
  public:
    explicit EBadParamValue(const std::string& detail)
        : AmiException("Unrecognized parameter value: " + detail) {}
};

class ENodeNotFound : public AmiException {
  public:
    explicit ENodeNotFound(const std::string& detail)
        : AmiException("The requested node name was not found: " + detail) {}
};

class EBadRootName : public AmiException {
  public:
    explicit EBadRootName(const std::string& detail)
        : AmiException("The requested root name was incorrect: " + detail) {}
};

class EUnknownReturnValue : public AmiException {
  public:
    explicit EUnknownReturnValue(const std::string& detail)
        : AmiException("An unrecognized value was returned by: " + detail) {}
};
