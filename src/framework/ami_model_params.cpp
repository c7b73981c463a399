// Receiver parameter queries: they never throw; every failure becomes log lines and a default.
#include <algorithm>

#include "framework/ami_model.hpp"
#include "framework/format.hpp"

namespace {

std::string FormatInt(long v) { return ami::Format("%ld", v); }

}  // namespace

std::string AmiModel::GetParamText(const std::vector<std::string>& names) {
    std::string value;
    if (!paramTree) return value;
    const int code = LookUpParam(*paramTree, names, value);
    if (code == 0) return value;
    if (code == 1) {
        msgLog += "WARNING: AMI file root name appears bogus!\n";
        msgLog += "\tExpecting: " + paramTree->rootName + ". Please, check AMI file.\n";
    } else if (code == 2) {
        msgLog += "WARNING: Couldn't find `";
        for (const auto& name : names) msgLog += name + ".";
        msgLog += "' parameter.\n";
    } else {
        msgLog += "WARNING: An unknown error was returned by the 'GetLeaf()' function!\n";
        msgLog += "\tThis is very bad; please, contact Corvan support.\n";
    }
    return {};
}

bool AmiModel::FetchParamVals(const std::vector<IntParamSpec>& table) {
    msgLog += "AMI Parameter Input Values:\n";
    bool failed = false;
    for (const IntParamSpec& row : table) {
        // A row without allowed values has no default to fall back on; zero stands in.
        const int fallback = row.allowed.empty() ? 0 : row.allowed.front();
        std::string text;
        const int code = paramTree ? LookUpParam(*paramTree, {row.name}, text) : 2;

        bool accepted = false;
        int value = fallback;
        switch (code) {
            case 0: {
                int scanned = 0;
                if (!ScanInt(text, scanned)) {
                    msgLog += "Couldn't scan an integer from the value string of parameter '" +
                              row.name + "': " + text +
                              "\nUsing default value: " + FormatInt(fallback);
                } else if (std::find(row.allowed.begin(), row.allowed.end(), scanned) !=
                           row.allowed.end()) {
                    accepted = true;
                    value = scanned;
                } else {
                    msgLog += "Illegal value supplied for parameter '" + row.name +
                              "': " + FormatInt(scanned) +
                              "\nUsing default value: " + FormatInt(fallback);
                }
                break;
            }
            case 1:
                msgLog +=
                    "Leaf value getter is reporting that we've sent the wrong AMI root name!\n";
                msgLog += "This should not have happened. Something is very wrong.\n";
                msgLog +=
                    "Using default value for parameter '" + row.name + "': " + FormatInt(fallback);
                break;
            case 2:
                msgLog += "Leaf value getter is reporting that it couldn't find parameter '" +
                          row.name + "'.\n" + "Using default value: " + FormatInt(fallback);
                break;
            default:
                msgLog += "Leaf value getter has returned an unknown error code!\n";
                msgLog += "This should not have happened. Something is very wrong.\n";
                msgLog +=
                    "Using default value for parameter '" + row.name + "': " + FormatInt(fallback);
                break;
        }
        if (!accepted) {
            msgLog += "\n\n";
            value = fallback;
            failed = true;
        }
        msgLog += "\t" + row.name + ": " + FormatInt(value) + "\n";

        paramValues.emplace(row.name, value);
        const auto pos = row.positions.find(value);
        paramIndices.emplace(row.name, pos == row.positions.end() ? 0 : pos->second);
    }
    if (!failed) msgLog += "All parameters parsed successfully.\n";
    return failed;
}
