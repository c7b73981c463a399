#pragma once
// Collects what a model library prints on the process's standard output while it runs, so
// that its console messages (a missing database file, an interpolation error) reach the report
// instead of mixing with amisim's own output.
#include <cstddef>
#include <string>

namespace amisim {

class ConsoleCapture {
  public:
    // Opens an anonymous temporary file; without one, nothing is ever redirected.
    ConsoleCapture();
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    // While a Scope lives, standard output (descriptor 1) goes into the file.
    class Scope {
      public:
        explicit Scope(ConsoleCapture& c);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        ConsoleCapture& c_;
        int savedFd_ = -1;
    };

    // Everything captured so far (at most 1 MiB is kept).
    std::string text() const;

  private:
    int fd_ = -1;
};

}  // namespace amisim
