// Sweeps as plans of point jobs: the same table from --jobs, a plan's points run one by one, GNU
// parallel, a Slurm job array and a resumed plan; a job killed midway leaves its point to do.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "test_support.hpp"

using namespace amisim_test;

namespace {

struct PlanKit {
    FakeKit kit;
    std::string options;
    PlanKit() {
        // the stand-in transmitter with a slow AMI_Init on request
        const std::string txAmi = kit.dir.write("tx_slow.ami", R"((Fake_Tx
  (Reserved_Parameters (Init_Returns_Impulse (Usage Info) (Type Boolean) (Value True)))
  (Model_Specific
    (gain (Usage In) (Type Float) (Default 1.0))
    (crash (Usage In) (Type Integer) (List 0 1) (Default 0))
    (sleep_ms (Usage In) (Type Integer) (Default 0)))))");
        options = " --kit " + kit.dir.str() + " --tx-lib " + FAKE_TX_LIB + " --rx-lib " +
                  FAKE_RX_LIB + " --tx-ami " + txAmi + " --rx-ami " + kit.cfg.files.rxAmi +
                  " --samples-per-bit 8 --mode stat --quiet --loss-db 0";
    }
};

// The sweep's table without the columns that hold times.
std::string table(const std::string& out) { return readFile(out + "/sweep.csv"); }

// A 6-point grid whose eyes are 2 * 0.5 V * tx gain * rx gain less 20 mV.
const char* const kGrid = " --sweep tx.gain=0.5:1:0.5 --sweep rx.gain=0.25,0.5,1";

}  // namespace

TEST(SweepPlan, PointJobsMergeToTheTableOfASerialAndAParallelRun) {
    PlanKit k;
    TempDir& d = k.kit.dir;
    const std::string serialOut = d.file("serial"), jobsOut = d.file("jobs");
    ASSERT_EQ(runAmisim(d, k.options + kGrid + " --out " + serialOut).status, 0);
    ASSERT_EQ(runAmisim(d, k.options + kGrid + " --out " + jobsOut + " --jobs 2").status, 0);
    const std::string serial = table(serialOut);
    EXPECT_NE(serial.find("\n1,1,0.979"), std::string::npos) << serial;
    EXPECT_EQ(table(jobsOut), serial);

    // a plan: its points run as separate jobs, one of them not yet
    const std::string plan = d.file("plan"), planOut = d.file("plan_out");
    CliRun r = runAmisim(d, k.options + kGrid + " --out " + planOut + " --plan " + plan);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("--run-point " + plan + " {} ::: $(seq 0 5)"), std::string::npos) << r.out;
    for (int i = 0; i < 6; ++i) {
        if (i == 4) continue;
        ASSERT_EQ(runAmisim(d, "--run-point " + plan + " " + std::to_string(i)).status, 0);
    }
    r = runAmisim(d, "--merge " + plan);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("1 of 6 sweep points are missing or failed"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("point 4 (tx.gain=1 rx.gain=0.5): missing"), std::string::npos) << r.err;
    // resuming runs only the missing point, then merges
    r = runAmisim(d, k.options + kGrid + " --out " + planOut + " --plan " + plan + " --jobs 2");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(table(planOut), serial);
    // a point already done is not run again; a point outside the plan is refused
    r = runAmisim(d, "--run-point " + plan + " 4");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("done already"), std::string::npos) << r.out;
    EXPECT_EQ(runAmisim(d, "--run-point " + plan + " 6").status, 1);
    // a plan folder holds one sweep
    r = runAmisim(d,
                  k.options + " --sweep tx.gain=0.5:1:0.25 --out " + planOut + " --plan " + plan);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("holds another sweep's plan"), std::string::npos) << r.err;
}

TEST(SweepPlan, GnuParallelWithTwoSlotsGivesTheSameTable) {
    if (std::system("parallel --version > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "GNU parallel is not installed (scripts/deps.sh installs it)";
    PlanKit k;
    TempDir& d = k.kit.dir;
    const std::string jobsOut = d.file("jobs"), plan = d.file("plan"), planOut = d.file("out");
    ASSERT_EQ(runAmisim(d, k.options + kGrid + " --out " + jobsOut + " --jobs 2").status, 0);
    ASSERT_EQ(runAmisim(d, k.options + kGrid + " --out " + planOut + " --plan " + plan).status, 0);
    const std::string cmd = "parallel --will-cite -j 2 " + std::string(AMISIM_EXE) +
                            " --run-point " + plan + " {} ::: 0 1 2 3 4 5 > " + d.file("par.log") +
                            " 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << readFile(d.file("par.log"));
    const CliRun r = runAmisim(d, "--merge " + plan);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(table(planOut), table(jobsOut));
}

TEST(SweepPlan, AJobKilledMidwayLeavesItsPointToDoAndACrashIsRecorded) {
    PlanKit k;
    TempDir& d = k.kit.dir;
    const std::string plan = d.file("plan"), out = d.file("out");
    const std::string grid = " --sweep tx.sleep_ms=0,1500 --sweep tx.crash=0:1";
    ASSERT_EQ(runAmisim(d, k.options + grid + " --out " + out + " --plan " + plan).status, 0);
    // point 2 sleeps 1.5 s in AMI_Init: its job is killed after half a second
    const std::string kill = "timeout -s KILL 0.5 " + std::string(AMISIM_EXE) + " --run-point " +
                             plan + " 2 > /dev/null 2>&1";
    EXPECT_NE(std::system(kill.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(plan + "/points/2/point.json"));
    // point 1 aborts in the model: recorded as failed, with the reason
    CliRun r = runAmisim(d, "--run-point " + plan + " 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readFile(plan + "/points/1/status"), "1\n");
    r = runAmisim(d, "--merge " + plan);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("point 1 (tx.sleep_ms=0 tx.crash=1): failed: the point's process was "
                         "killed by signal 6"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("point 2 (tx.sleep_ms=1500 tx.crash=0): missing"), std::string::npos)
        << r.err;
    // the report lists the failure among its warnings
    const auto report = nlohmann::json::parse(readFile(out + "/report.json"));
    bool listed = false;
    for (const auto& w : report["warnings"])
        listed = listed || w.get<std::string>().find("sweep point 1") != std::string::npos;
    EXPECT_TRUE(listed) << report["warnings"].dump();

    // resuming redoes the killed point and keeps the recorded failures (points 1 and 3 crash)
    r = runAmisim(d, k.options + grid + " --out " + out + " --plan " + plan + " --jobs 2");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(std::filesystem::exists(plan + "/points/2/point.json"));
    EXPECT_NE(r.err.find("2 of 4 sweep points are missing or failed"), std::string::npos) << r.err;
}

TEST(SweepPlan, ASlurmJobArrayOnAOneNodeClusterGivesTheSameTable) {
    if (std::system("command -v slurmctld > /dev/null && command -v munged > /dev/null") != 0)
        GTEST_SKIP() << "Slurm or munge is not installed (scripts/deps.sh installs slurm-wlm and "
                        "munge)";
    if (geteuid() != 0) GTEST_SKIP() << "the one-node Slurm cluster runs its daemons as root";
    PlanKit k;
    TempDir& d = k.kit.dir;
    const std::string jobsOut = d.file("jobs"), plan = d.file("plan"), planOut = d.file("out");
    ASSERT_EQ(runAmisim(d, k.options + kGrid + " --out " + jobsOut + " --jobs 2").status, 0);
    ASSERT_EQ(runAmisim(d, k.options + kGrid + " --out " + planOut + " --plan " + plan).status, 0);
    const std::string cmd = std::string("AMISIM=") + AMISIM_EXE + " timeout 300 bash " +
                            SCRIPTS_DIR + "/slurm_local.sh " + plan + " > " + d.file("slurm.log") +
                            " 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << readFile(d.file("slurm.log"));
    EXPECT_EQ(table(planOut), table(jobsOut));
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(std::filesystem::exists(plan + "/points/" + std::to_string(i) + "/point.json"));
}
