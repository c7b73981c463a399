// Choosing one response record and one amplitude curve for a request.
#include <cmath>

#include "rx/response_database.hpp"

namespace {

template <class T>
int indexOf(const std::vector<T>& values, const T& wanted) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i] == wanted) return static_cast<int>(i);  // exact match by design
    }
    return -1;
}

// The high-gain CTLE offers 29 AC-gain settings but stores 24 responses: the top settings
// share their neighbours' measurements.
int storedHighGainIndex(int setting) {
    static const int upper[] = {19, 20, 20, 21, 21, 22, 22, 22, 23};  // settings 20 ... 28
    if (setting < 20) return setting;
    if (setting <= 28) return upper[setting - 20];
    return setting;  // beyond the table: left to the bounds check
}

const ResponseRecord* responseAt(const CtleDatabase& db, int a, int b, int c, int d) {
    if (a < 0 || b < 0 || c < 0 || d < 0) return nullptr;
    const auto ua = static_cast<std::size_t>(a), ub = static_cast<std::size_t>(b),
               uc = static_cast<std::size_t>(c), ud = static_cast<std::size_t>(d);
    if (ua >= db.responses.size() || ub >= db.responses[ua].size() ||
        uc >= db.responses[ua][ub].size() || ud >= db.responses[ua][ub][uc].size()) {
        return nullptr;
    }
    return &db.responses[ua][ub][uc][ud];
}

// Linear DC gain of the stage whose magnitude row is `row`; 1 when the record lacks it.
double dcGainOf(const ResponseRecord& m, std::size_t row) {
    if (m.data.size() <= row || m.data[row].empty()) return 1.0;
    return std::pow(10.0, m.data[row][0] / 20.0);
}

}  // namespace

bool SelectResponse(const CtleDatabase& database, const ResponseRequest& request, bool infoOnly,
                    AmplitudeFitCache& fitCache, ResponseSelection& out) {
    if (infoOnly) {
        out.info.axisA = database.axisA;
        out.info.axisB = database.axisB;
        out.info.axisC = database.axisC;
        out.info.variants = database.variants;
        const ResponseRecord* first = responseAt(database, 0, 0, 0, 0);
        out.info.pointCount = first ? static_cast<int>((first->rows - (first->rows > 0)) / 2) : 0;
        return true;
    }

    int a = indexOf(database.axisA, request.acGain);
    const int b = indexOf(database.axisB, request.dcGain);
    const int c = indexOf(database.axisC, request.bandwidth);
    const int d = indexOf(database.variants, request.variant);
    if (a < 0 || b < 0 || c < 0 || d < 0) return false;

    const int r =
        database.stageValues.empty() ? c : indexOf(database.stageValues, request.bandwidth);
    if (r < 0) return false;

    int k = 0;
    if (request.path == kVgaPath) {
        k = a;
    } else if (request.path == kQpiPath) {
        k = d;
    } else if (request.path == kLowGainPath) {
        k = 10;
    } else {
        k = b > 3 ? 1 : 0;
        a = storedHighGainIndex(a);
    }

    const ResponseRecord* response = responseAt(database, a, b, c, d);
    const ResponseRecord* m = responseAt(database, 0, 0, c, d);
    if (!response || !m) return false;  // keys beyond the stored table

    const ResponseRecord* curve = nullptr;
    const auto ur = static_cast<std::size_t>(r), uk = static_cast<std::size_t>(k);
    if (ur < database.curves.size() && uk < database.curves[ur].size()) {
        curve = &database.curves[ur][uk];
    } else if (!database.curves.empty() && !database.curves[0].empty()) {
        curve = &database.curves[0][0];
    }

    const double g1 = dcGainOf(*m, 1);
    const double g2 = m->data.size() >= 4 ? dcGainOf(*m, 3) : g1;
    std::vector<double> gainsA = {1.0, 1.0};
    std::vector<double> gainsB = {g1, g2};

    if (fitCache.fitRow != r || fitCache.fitCol != k) {
        fitCache.clear();
        if (curve && curve->data.size() >= 2) {
            const auto& x = curve->data[0];
            const auto& y = curve->data[1];
            if (request.path == kVgaPath) {
                fitCache.fitA = FitAmplitudeCurve(x, y, 1.0);
                fitCache.fitB = FitAmplitudeCurve(x, y, gainsA[0]);
            } else {
                fitCache.fitA = FitAmplitudeCurve(x, y, gainsA[0]);
                fitCache.fitB = FitAmplitudeCurve(x, y, gainsB[0]);
            }
        }
        fitCache.fitRow = r;
        fitCache.fitCol = k;
    }

    out.response = *response;
    out.curve = curve ? *curve : ResponseRecord{};
    out.gainsA = std::move(gainsA);
    out.gainsB = std::move(gainsB);
    out.fitA = fitCache.fitA;
    out.fitB = fitCache.fitB;
    return true;
}
