#pragma once
// The response database as the equaliser adaptation sees it: the candidate values of the CTLE
// family and VGA bandwidth being adapted, and the stages of each candidate, looked up exactly as
// the receiver construction looks up its own.
#include <vector>

#include "engine/adaptation/adaptation.hpp"
#include "rx/candidate_chain.hpp"
#include "rx/response_database.hpp"

namespace v10kx_ami_rx {

class DatabaseCandidates : public ResponseCatalogue, public CandidateStageSource {
  public:
    // `files`: the receiver's database files, corner and supply. `fourStageCtle`: the CTLE
    // records hold four stages (high-gain CTLE) instead of one.
    DatabaseCandidates(const AdaptationSetup& setup, const ResponseDatabaseFiles& files,
                       double bitRate, bool fourStageCtle);

    // The CTLE database's AC-boost (key A) and DC-gain (key B) values and the VGA database's
    // gains (key A); empty lists when a database holds nothing.
    CandidateGrid Grid() override;
    // std::runtime_error naming the setting when the database has no usable record for it.
    std::vector<ChainStage> CtleStages(int dc, int boost) override;
    ChainStage VgaStage(int vga) override;

  private:
    ResponseDatabaseFiles files_;
    ResponseRequest ctle_;
    ResponseRequest vga_;
    bool fourStages_;
    CandidateGrid grid_;
};

}  // namespace v10kx_ami_rx
