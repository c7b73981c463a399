#pragma once
// Source resistance and Touchstone file of the analog front end, written into the simulator's
// parameter string for AMI_Resolve.
#include <string>

class AmiParamTree;

namespace v10kx_ami_tx {

struct FrontEnd {
    double txR = 50;  // ohms
    std::string touchstoneFile;
};

// From the rterm, corner and slew leaves under the root; without a tree the defaults apply.
FrontEnd SelectFrontEnd(const AmiParamTree* tree);

// `text` with the Tx_R and Tstonefile leaves set (replaced where they exist, else appended before
// the last closing parenthesis).
std::string ResolveFrontEnd(const AmiParamTree* tree, const std::string& text);

// Rewrites `text` token by token (tokens separated by blanks, tabs, CR and line feeds, joined by
// single blanks) with the value after every "(name" token replaced; `found` tells whether any was.
std::string ReplaceLeafValue(const std::string& text, const std::string& name,
                             const std::string& value, bool& found);

// Inserts "(name value)" before the last ")" of `text`; empty when there is no ")".
std::string AppendLeaf(const std::string& text, const std::string& name, const std::string& value);

}  // namespace v10kx_ami_tx
