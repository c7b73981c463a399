#include "rx_test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

#include "mkdb/rx_container_writer.hpp"
#include "mkdb/writers.hpp"

namespace rxtest {

const testsupport::AmiExports& RxLibrary() {
    static const testsupport::AmiExports library = [] {
        testsupport::AmiExports lib = testsupport::LoadAmiExports(RX_LIBRARY_PATH);
        if (!lib.complete()) ADD_FAILURE() << lib.error;
        return lib;
    }();
    return library;
}

RxInstance::RxInstance(std::vector<double>& impulse, double sampleInterval, double bitTime,
                       const std::string& params) {
    const testsupport::AmiExports& lib = RxLibrary();
    if (!lib.init) return;
    std::vector<char> text(params.begin(), params.end());
    text.push_back('\0');
    char* out = nullptr;
    char* msg = nullptr;
    initResult_ = lib.init(impulse.data(), static_cast<std::int32_t>(impulse.size()), 0,
                           sampleInterval, bitTime, text.data(), &out, &handle_, &msg);
    if (msg) message_ = msg;
    if (out) paramsOut_ = out;
}

RxInstance::~RxInstance() {
    if (RxLibrary().close) RxLibrary().close(handle_);
}

std::int32_t RxInstance::GetWave(std::vector<double>& wave, std::vector<double>& clockTimes) {
    char* out = nullptr;
    const std::int32_t result = RxLibrary().getWave(
        wave.data(), static_cast<std::int32_t>(wave.size()), clockTimes.data(), &out, handle_);
    lastParamsOut_ = out ? out : "";
    return result;
}

ScopedCurrentDir::ScopedCurrentDir(const std::filesystem::path& dir)
    : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
}

ScopedCurrentDir::~ScopedCurrentDir() { std::filesystem::current_path(saved_); }

StageFunction FlatStage(double magnitudeDb) {
    const double gain = std::pow(10.0, magnitudeDb / 20.0);
    return [gain](double) { return std::complex<double>(gain, 0.0); };
}

StageFunction LowPassStage(double cornerHz) {
    return [cornerHz](double f) { return 1.0 / std::complex<double>(1.0, f / cornerHz); };
}

StageFunction GaussianStage(double widthHz, double delay) {
    return [widthHz, delay](double f) {
        const double x = f / widthHz;
        return std::polar(std::exp(-x * x), -2 * M_PI * f * delay);
    };
}

AmplitudeTable IdentityCurve() { return {{-10.0, 10.0}, {-10.0, 10.0}}; }

AmplitudeTable SaturatingCurve(double limit) {
    AmplitudeTable t;
    for (int i = -200; i <= 200; ++i) {
        const double x = i * 0.01;
        t.in.push_back(x);
        t.out.push_back(limit * std::tanh(x / limit));
    }
    return t;
}

std::vector<double> FrequencyGrid(double stepHz, double maxHz) {
    std::vector<double> f;
    for (int i = 0; i * stepHz <= maxHz * (1 + 1e-12); ++i) f.push_back(i * stepHz);
    return f;
}

namespace {

ResponseRecord MakeRecord(std::vector<std::vector<double>> rows) {
    ResponseRecord r;
    r.rows = static_cast<std::uint32_t>(rows.size());
    r.columns = rows.empty() ? 0 : static_cast<std::uint32_t>(rows[0].size());
    r.data = std::move(rows);
    return r;
}

// Row 0 frequencies, then magnitude (dB) and phase (degrees) of `stages` equal stages.
ResponseRecord ResponseOf(const std::vector<double>& f, const StageFunction& stage, int stages) {
    std::vector<std::vector<double>> rows{f};
    std::vector<double> magnitude, phase;
    for (double x : f) {
        const std::complex<double> h = stage(x);
        magnitude.push_back(20.0 * std::log10(std::abs(h)));
        phase.push_back(std::arg(h) * 180.0 / M_PI);
    }
    for (int s = 0; s < stages; ++s) {
        rows.push_back(magnitude);
        rows.push_back(phase);
    }
    return MakeRecord(rows);
}

ResponseRecord CurveOf(const AmplitudeTable& t) { return MakeRecord({t.in, t.out, t.in, t.out}); }

// Every key combination of the axes holds `response`; curveRows x curveCols curves.
CtleDatabase Fill(std::vector<double> axisA, std::vector<double> axisB, std::vector<double> axisC,
                  std::vector<std::string> variants, const ResponseRecord& response,
                  const ResponseRecord& curve, std::size_t curveRows, std::size_t curveCols) {
    CtleDatabase db;
    db.axisA = std::move(axisA);
    db.axisB = std::move(axisB);
    db.axisC = std::move(axisC);
    db.variants = std::move(variants);
    db.responses.assign(
        db.axisA.size(),
        std::vector<std::vector<std::vector<ResponseRecord>>>(
            db.axisB.size(),
            std::vector<std::vector<ResponseRecord>>(
                db.axisC.size(), std::vector<ResponseRecord>(db.variants.size(), response))));
    db.curves.assign(curveRows, std::vector<ResponseRecord>(curveCols, curve));
    return db;
}

}  // namespace

void WriteTestDatabase(const std::filesystem::path& dir, const TestDatabase& t,
                       const std::string& cornerSuffix) {
    const ResponseRecord curve = CurveOf(t.curve);
    const std::vector<double> bandwidths{4, 8, 16, 28};
    std::vector<double> gains;
    for (int g = 0; g < 29; ++g) gains.push_back(g);

    const CtleDatabase highGain = Fill(gains, {0, 1, 2, 3, 4}, bandwidths, {"H"},
                                       ResponseOf(t.frequencies, t.ctle, 4), curve, 4, 2);
    const CtleDatabase highDataRate =
        Fill(gains, {0}, bandwidths, {"H"}, ResponseOf(t.frequencies, t.ctle, 1), curve, 4, 11);
    const CtleDatabase qpi = Fill({0}, {0}, {16}, {"0p125V", "0p25V", "0p35V"},
                                  ResponseOf(t.frequencies, t.ctle, 4), curve, 1, 3);
    const CtleDatabase vga = Fill({0, 1, 2, 3, 4, 5, 6, 7}, {0}, bandwidths, {"H"},
                                  ResponseOf(t.frequencies, t.vga, 1), curve, 4, 8);

    // Default supply 1.0 V.
    const std::string v = "_V1p0" + cornerSuffix + ".kvreledata";
    mkdb::writeBytes(dir / ("V10KX_CTLE" + v), mkdb::encodeCtleContainer(highGain));
    mkdb::writeBytes(dir / ("V10KX_CTLE2" + v), mkdb::encodeCtleContainer(highDataRate));
    mkdb::writeBytes(dir / ("V10KX_CTLE3" + cornerSuffix + ".kvreledata"),
                     mkdb::encodeCtleContainer(qpi));
    mkdb::writeBytes(dir / ("V10KX_VGA_Response" + v), mkdb::encodeCtleContainer(vga));
}

namespace {

std::string ReplaceOnce(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

}  // namespace

void WriteReducedKitDatabase(const std::filesystem::path& dir) {
    std::string json = ReadFile(mkdb::defaultRxDescription());
    json = ReplaceOnce(
        json, R"("keys": 16, "stored": 16, "peakingDbAtZero": 0.0, "peakingDbPerStep": 1.0)",
        R"("keys": 4, "stored": 4, "peakingDbAtZero": 0.0, "peakingDbPerStep": 5.0)");
    json = ReplaceOnce(
        json, R"("keys": 29, "stored": 24, "peakingDbAtZero": 0.0, "peakingDbPerStep": 0.3)",
        R"("keys": 3, "stored": 3, "peakingDbAtZero": 0.0, "peakingDbPerStep": 2.0)");
    json = ReplaceOnce(
        json, R"("keys": 8, "stored": 8, "linearGains": [0.5, 0.8, 1.1, 1.3, 1.5, 1.65, 1.8, 2.0])",
        R"("keys": 3, "stored": 3, "linearGains": [0.5, 1.1, 2.0])");
    const std::filesystem::path description = dir / "reduced_rx.json";
    std::ofstream(description) << json;
    mkdb::writeRxDatabase(description, dir);
}

std::vector<double> PoleChannel(double tauUi, int samplesPerBit, double sampleInterval) {
    std::vector<double> h(64 * static_cast<std::size_t>(samplesPerBit));
    const double tau = tauUi * samplesPerBit;
    for (std::size_t j = 0; j < h.size(); ++j) {
        h[j] = std::exp(-static_cast<double>(j) / tau) / (tau * sampleInterval);
    }
    return h;
}

std::string Params(const std::filesystem::path& databaseDir,
                   const std::vector<std::pair<std::string, std::string>>& values) {
    std::string text = "(Vanta10_Rx (Database_Path \"" + databaseDir.string() + "\")";
    for (const auto& [name, value] : values) text += " (" + name + " " + value + ")";
    return text + ")";
}

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

double OutputValue(const std::string& paramsOut, const std::string& name) {
    const std::string key = "(" + name + " ";
    const std::size_t at = paramsOut.find(key);
    if (at == std::string::npos) return std::numeric_limits<double>::quiet_NaN();
    return std::strtod(paramsOut.c_str() + at + key.size(), nullptr);
}

}  // namespace rxtest
