#include "amisim/report/output_folder.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace amisim {

namespace fs = std::filesystem;

const std::vector<std::string>& ownedFileNames() {
    using namespace outfile;
    static const std::vector<std::string> names{
        kReportJson,       kReportHtml,     kEyeStatistical,    kEyeTimeDomain,  kPulseResponse,
        kChannelPulse,     kChannelImpulse, kFrequencyResponse, kBathtub,        kClockPeriod,
        kDfeTaps,          kSweepPicture,   kEyeContourCsv,     kBathtubStatCsv, kBathtubTdCsv,
        kCursorsCsv,       kFrequencyCsv,   kClockCsv,          kDfeTapsCsv,     kSweepCsv,
        kMarginWalkPicture};
    return names;
}

void prepareOutputFolder(const std::string& dir) {
    if (dir.empty()) throw std::runtime_error("the output folder (--out) is empty");
    std::error_code ec;
    const fs::path p(dir);
    if (fs::exists(p, ec) && !fs::is_directory(p, ec))
        throw std::runtime_error("the output folder '" + dir + "' exists and is not a folder");
    fs::create_directories(p, ec);
    if (ec)
        throw std::runtime_error("cannot create the output folder '" + dir + "': " + ec.message());
    // a probe file shows at once whether the run's files can go there
    const fs::path probe = p / ".amisim-write-check";
    {
        std::ofstream out(probe);
        if (!out || !(out << "amisim\n") || !out.flush()) {
            const std::string why = std::strerror(errno);
            throw std::runtime_error("cannot write into the output folder '" + dir + "': " + why);
        }
    }
    fs::remove(probe, ec);
}

void removeOwnedFiles(const std::string& dir) {
    for (const std::string& name : ownedFileNames()) {
        std::error_code ec;
        const fs::path f = fs::path(dir) / name;
        if (fs::is_regular_file(f, ec)) {
            fs::remove(f, ec);
            if (ec)
                throw std::runtime_error("cannot remove '" + f.string() +
                                         "' of an earlier run: " + ec.message());
        }
    }
}

void writeTextFile(const std::string& dir, const std::string& name, const std::string& text) {
    const fs::path target = fs::path(dir) / name;
    const fs::path temp = fs::path(dir) / ("." + name + ".tmp");
    {
        std::ofstream out(temp, std::ios::binary);
        out << text;
        out.flush();
        if (!out) {
            std::error_code ec;
            fs::remove(temp, ec);
            throw std::runtime_error("cannot write '" + target.string() + "'");
        }
    }
    std::error_code ec;
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        throw std::runtime_error("cannot write '" + target.string() + "': " + ec.message());
    }
}

}  // namespace amisim
