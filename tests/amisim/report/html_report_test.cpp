// report.html is one self-contained page: loaded in a headless browser, it shows the summary
// table and every picture of the run, decoded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "test_support.hpp"

using amisim_test::readFile;

namespace {

std::string findChromium() {
    for (const char* name : {"chromium", "chromium-browser"}) {
        const std::string cmd = std::string("command -v ") + name + " > /dev/null 2>&1";
        if (std::system(cmd.c_str()) == 0) return name;
    }
    return "";
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

}  // namespace

TEST(HtmlReport, HeadlessChromiumShowsTheSummaryAndEveryPicture) {
    const std::string chromium = findChromium();
    if (chromium.empty()) GTEST_SKIP() << "chromium is not installed (scripts/deps.sh installs it)";
    amisim_test::FakeKit k;
    const std::string out = k.dir.file("out");
    const auto run = amisim_test::runAmisim(
        k.dir, k.options() + " --out " + out +
                   " --quiet --bits 2000 --prbs 7 --rx clock_ppm=100 --rx taps=1");
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json report = nlohmann::json::parse(readFile(out + "/report.json"));
    const std::size_t pictures = report["pictures"].size();
    ASSERT_GE(pictures, 8u);  // eyes, bathtub, pulses, impulse, frequencies, clock, DFE taps

    const std::string dom = k.dir.file("dom.html");
    const std::string cmd = chromium +
                            " --headless --no-sandbox --disable-gpu --no-first-run"
                            " --disable-background-networking --disable-component-update"
                            " --disable-sync --user-data-dir=" +
                            k.dir.file("chromium-profile") + " --dump-dom file://" + out +
                            "/report.html > " + dom + " 2> " + k.dir.file("chromium.log");
    ASSERT_EQ(std::system(cmd.c_str()), 0) << readFile(k.dir.file("chromium.log"));
    const std::string page = readFile(dom);
    EXPECT_NE(page.find("id=\"summary\""), std::string::npos);
    EXPECT_NE(page.find("Statistical eye"), std::string::npos);
    EXPECT_EQ(count(page, "<figure"), pictures);
    // each picture decoded in the browser: its load handler marked it
    EXPECT_EQ(count(page, "data-loaded=\"1\""), pictures) << page.substr(0, 2000);
    for (const auto& p : report["pictures"])
        EXPECT_NE(page.find("id=\"" + p.get<std::string>() + "\""), std::string::npos) << p;
    // nothing is fetched from elsewhere
    EXPECT_EQ(page.find("src=\"http"), std::string::npos);
    EXPECT_EQ(page.find("src=\"file:"), std::string::npos);
}
