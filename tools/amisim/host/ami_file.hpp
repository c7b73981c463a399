#pragma once
// Reader of IBIS-AMI parameter definition files (.ami) and the parameter-string builder a
// simulator derives from them.
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace amisim {

struct AmiFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One parenthesised list of an .ami file: its name, then texts and nested lists in order.
struct AmiList {
    std::string name;
    std::vector<std::string> values;  // texts, in order (quoted texts without their quotes)
    std::vector<bool> quoted;         // per entry of `values`: written with double quotes
    std::vector<AmiList> lists;       // nested lists, in order
    int line = 0;                     // line of the opening parenthesis

    const AmiList* find(const std::string& childName) const;
};

// Parses the text of an .ami file. Comments run from '|' (outside quotes) to the line end.
// Throws AmiFileError naming `origin` and the line on malformed input.
AmiList parseAmiText(const std::string& text, const std::string& origin);
AmiList readAmiFile(const std::string& path);

// One model parameter as the file declares it.
struct AmiParameter {
    std::vector<std::string> path;  // names below the root; more than one for nested lists
    std::string usage;              // In, Out, InOut, Info
    std::string type;               // Integer, Float, UI, Tap, Boolean, String
    std::optional<std::string> defaultValue;
    std::vector<std::string> allowed;                // from (List ...)
    std::vector<std::string> listTips;               // from (List_Tip ...), one per entry
    std::optional<std::pair<double, double>> range;  // from (Range typ min max)
    std::string description;

    bool isInput() const { return usage == "In" || usage == "InOut"; }
    std::string dottedName() const;
};

struct AmiModelFile {
    std::string rootName;
    std::vector<AmiParameter> parameters;  // every parameter, in file order

    const AmiParameter* find(const std::vector<std::string>& path) const;
    // Value of a reserved Info parameter, such as Ignore_Bits or GetWave_Exists.
    std::optional<std::string> infoValue(const std::string& name) const;
};

AmiModelFile describeModel(const AmiList& root);
AmiModelFile loadModelFile(const std::string& path);

// A user override: dotted parameter name and value text.
struct ParamOverride {
    std::string name;
    std::string value;
};

// "name=value" -> ParamOverride; throws AmiFileError when there is no '=' or no name.
ParamOverride parseOverride(const std::string& text);

// Builds the AMI_parameters_in string: every In/InOut parameter with its default (or the
// override), nested as declared, under the model's root name. `reserved` holds reserved
// parameters added at the root when the file does not declare them (Database_Path); user
// overrides of them win. Throws AmiFileError on an override naming no input parameter, or a
// value that does not fit the parameter's type.
std::string buildParameterString(const AmiModelFile& model,
                                 const std::vector<ParamOverride>& overrides,
                                 const std::map<std::string, std::string>& reserved,
                                 std::vector<std::string>* warnings = nullptr);

}  // namespace amisim
