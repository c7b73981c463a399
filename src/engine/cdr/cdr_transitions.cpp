#include "engine/cdr/cdr_transitions.hpp"

EdgeSelection ParseEdgeSelection(const std::string& name) {
    if (name == "Rising") return EdgeSelection::Rising;
    if (name == "Falling") return EdgeSelection::Falling;
    return EdgeSelection::All;
}

void TransitionExtractor::Extract(const double* samples, std::size_t count, TransitionList& list) {
    if (count == 0) return;
    // The pair (a, samples[j]) spans sample positions j - 1 and j.
    double a = havePrevious_ ? previous_ : samples[0];
    for (std::size_t j = havePrevious_ ? 0 : 1; j < count; ++j) {
        const double b = samples[j];
        double fraction = 0, level = 0;
        if (FindCrossing(a, b, selection_, fraction, level)) {
            list.positions.push_back(static_cast<double>(j) - 1.0 + fraction);
            list.levels.push_back(level);
        }
        a = b;
    }
    previous_ = samples[count - 1];
    havePrevious_ = true;
}

TransitionList ExtractTransitions(const std::vector<double>& samples,
                                  const std::string& selection) {
    TransitionList list;
    if (samples.empty()) return list;
    list.initial_polarity = samples[0] > 0 ? 1.0 : -1.0;
    list.sample_count = static_cast<double>(samples.size());
    TransitionExtractor extractor(ParseEdgeSelection(selection));
    extractor.Extract(samples.data(), samples.size(), list);
    return list;
}
