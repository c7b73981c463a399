#pragma once
// Shared pieces of the simulator's tests: temporary folders, a kit of stand-in models, and
// running the amisim program.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "amisim/run/link_sim.hpp"
#include "support/temp_dir.hpp"

namespace amisim_test {

using testsupport::TempDir;

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The stand-in models (tests/amisim/fake_model.cpp) with .ami files naming their switches.
struct FakeKit {
    TempDir dir;
    amisim::LinkConfig cfg;
    FakeKit() {
        cfg.kitDir = dir.str();
        cfg.files.txLibrary = FAKE_TX_LIB;
        cfg.files.rxLibrary = FAKE_RX_LIB;
        cfg.files.txAmi = dir.write("tx.ami", R"((Fake_Tx
  (Reserved_Parameters (Init_Returns_Impulse (Usage Info) (Type Boolean) (Value True)))
  (Model_Specific
    (gain (Usage In) (Type Float) (Default 1.0))
    (limit (Usage In) (Type Float) (Default 0))
    (warn (Usage In) (Type Integer) (List 0 1) (Default 0))
    (crash (Usage In) (Type Integer) (List 0 1) (Default 0))
    (rj (Usage In) (Type Float) (Default 1e-12))
    (dcd (Usage In) (Type Float) (Default 0))
    (corner (Usage In) (Type Integer) (List 0 1 2) (Default 0))
    (fail (Usage In) (Type Integer) (List 0 1) (Default 0)))))");
        cfg.files.rxAmi = dir.write("rx.ami", R"((Fake_Rx
  (Reserved_Parameters (Ignore_Bits (Usage Info) (Type Integer) (Value 200)))
  (Model_Specific
    (gain (Usage In) (Type Float) (Default 1.0))
    (limit (Usage In) (Type Float) (Default 0))
    (limit_adapts (Usage In) (Type Integer) (List 0 1) (Default 0))
    (warn (Usage In) (Type Integer) (List 0 1) (Default 0))
    (adapt (Usage In) (Type Integer) (List 0 1) (Default 0))
    (rj (Usage In) (Type Float) (Default 1e-12))
    (dcd (Usage In) (Type Float) (Default 2e-12))
    (taps (Usage In) (Type Integer) (List 0 1) (Default 0))
    (clock_ppm (Usage In) (Type Float) (Default 0))
    (clock_settle (Usage In) (Type Integer) (Default 0))
    (lock_at (Usage In) (Type Integer) (Default -2))
    (dropped (Usage In) (Type Integer) (Default -1))
    (gain_settle (Usage In) (Type Integer) (Default 0))
    (corner (Usage In) (Type Integer) (List 0 1 2) (List_Tip "TT" "FF" "SS") (Default 0))
    (clock (Usage In) (Type Integer) (List 0 1) (Default 0)))))");
        cfg.lossDb = 0;
        cfg.bits = 3000;
        cfg.prbsOrder = 7;
        cfg.blockBits = 256;
        cfg.quiet = true;
    }
    // The command-line options that name this kit; 8 samples a bit keep the runs short.
    std::string options() const {
        return " --kit " + dir.str() + " --tx-lib " + FAKE_TX_LIB + " --rx-lib " + FAKE_RX_LIB +
               " --tx-ami " + cfg.files.txAmi + " --rx-ami " + cfg.files.rxAmi +
               " --samples-per-bit 8";
    }
};

struct CliRun {
    int status = -1;
    std::string out, err;
};

// Runs amisim with `args` (a shell command line tail); standard output and error go to files
// in `dir`, so standard error is not a terminal.
inline CliRun runAmisim(const TempDir& dir, const std::string& args) {
    static int counter = 0;
    const std::string base = dir.file("run" + std::to_string(++counter));
    const std::string cmd = std::string(AMISIM_EXE) + " " + args + " > " + base + ".out 2> " +
                            base + ".err < /dev/null";
    const int raw = std::system(cmd.c_str());
    CliRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = readFile(base + ".out");
    r.err = readFile(base + ".err");
    return r;
}

}  // namespace amisim_test
