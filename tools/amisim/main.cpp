// amisim: runs a transmitter and a receiver IBIS-AMI model around a channel and reports the eye.
#include <gsl/gsl_errno.h>

#include <iostream>

#include "amisim/command_line.hpp"

int main(int argc, char** argv) {
    gsl_set_error_handler_off();
    try {
        return amisim::runCommandLine(argc, argv, std::cout, std::cerr);
    } catch (...) {
        std::cerr << "amisim: error: an unexpected failure stopped the run\n";
        return 1;
    }
}
