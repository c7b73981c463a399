#include "amisim/host/console_capture.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace amisim {

namespace {
constexpr std::size_t kMaxCapture = 1 << 20;

void flushStdout() {
    std::cout.flush();
    std::fflush(stdout);
}
}  // namespace

ConsoleCapture::ConsoleCapture() {
    char name[] = "/tmp/amisim-console-XXXXXX";
    fd_ = mkstemp(name);
    if (fd_ >= 0) unlink(name);
}

ConsoleCapture::~ConsoleCapture() {
    if (fd_ >= 0) close(fd_);
}

ConsoleCapture::Scope::Scope(ConsoleCapture& c) : c_(c) {
    if (c_.fd_ < 0) return;
    flushStdout();
    savedFd_ = dup(STDOUT_FILENO);
    if (savedFd_ >= 0 && dup2(c_.fd_, STDOUT_FILENO) < 0) {
        close(savedFd_);
        savedFd_ = -1;
    }
}

ConsoleCapture::Scope::~Scope() {
    if (savedFd_ < 0) return;
    flushStdout();
    dup2(savedFd_, STDOUT_FILENO);
    close(savedFd_);
}

std::string ConsoleCapture::text() const {
    std::string out;
    if (fd_ < 0) return out;
    char buf[4096];
    off_t at = 0;
    while (out.size() < kMaxCapture) {
        const ssize_t n = pread(fd_, buf, sizeof buf, at);
        if (n <= 0) break;
        out.append(buf, std::min(static_cast<std::size_t>(n), kMaxCapture - out.size()));
        at += n;
    }
    return out;
}

}  // namespace amisim
