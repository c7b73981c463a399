// report.html as a page sent to a colleague: when and with what it was made, every parameter the
// models received, their jitter, the channel, the mask verdicts, links to the tables beside it,
// and every warning, a failed sweep point included.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "amisim/report/report_html_sections.hpp"
#include "test_support.hpp"

using amisim_test::readFile;

TEST(StandAloneReport, CarriesModelsJitterMaskLinksAndEveryWarning) {
    amisim_test::FakeKit k;
    const std::string out = k.dir.file("out");
    const std::string wave = k.dir.file("wave.csv");
    const auto run = amisim_test::runAmisim(
        k.dir, k.options() + " --out " + out +
                   " --quiet --loss-db 0 --bits 2000 --prbs 7 --sweep tx.fail=0,1 --mask 100,0.3"
                   " --save-waveform " +
                   wave + " --waveform-bits 500:520");
    ASSERT_EQ(run.status, 0) << run.err;
    // the lossless stand-in link opens 0.96 V at the sampling point: a 100 mV mask passes
    EXPECT_NE(run.out.find("eye mask 100.0 mV x 0.30 UI: statistical PASS"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("time domain PASS"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("waveform: " + wave + " (160 samples)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("ends: ideal ends"), std::string::npos) << run.out;

    const std::string page = readFile(out + "/report.html");
    EXPECT_TRUE(
        std::regex_search(page, std::regex(R"(<p>20\d\d-\d\d-\d\d \d\d:\d\d:\d\d UTC; amisim )")));
    // every value the transmitter received, defaults included, not only what was given
    EXPECT_NE(page.find("(gain 1.0) (limit 0) (warn 0) (crash 0)"), std::string::npos);
    EXPECT_NE(page.find("id=\"model-rx\""), std::string::npos);
    EXPECT_NE(page.find("Jitter budget the models reported"), std::string::npos);
    EXPECT_NE(page.find("Eye mask 100.0 mV x 0.30 UI, statistical eye</th><td>PASS"),
              std::string::npos);
    const nlohmann::json report = nlohmann::json::parse(readFile(out + "/report.json"));
    ASSERT_FALSE(report["csv"].empty());
    for (const auto& f : report["csv"])
        EXPECT_NE(page.find("<a href=\"" + f.get<std::string>() + "\">"), std::string::npos) << f;
    EXPECT_EQ(page.find("<p id=\"warnings\">None.</p>"), std::string::npos);
    EXPECT_TRUE(std::regex_search(page, std::regex("sweep point tx.fail=1 failed: ")))
        << page.substr(page.find("Warnings"), 600);
    EXPECT_EQ(page.find("(rx_clock_times)"), std::string::npos);
}

TEST(StandAloneReport, IdentificationLineOfAModelMessage) {
    EXPECT_EQ(amisim::identificationLine("INFO: path\nModel Identification: V10 Tx 1.7\nmore"),
              "Model Identification: V10 Tx 1.7");
    EXPECT_EQ(amisim::identificationLine("\nfirst line\nsecond"), "first line");
    EXPECT_EQ(amisim::htmlEscaped("<a & \"b\">"), "&lt;a &amp; &quot;b&quot;&gt;");
}
