#pragma once
// The output folder of a run: checked before any work, and cleared of what an earlier run wrote
// there (only the files amisim itself writes) before the new files go in.
#include <string>
#include <vector>

namespace amisim {

namespace outfile {
inline constexpr const char* kReportJson = "report.json";
inline constexpr const char* kReportHtml = "report.html";
inline constexpr const char* kEyeStatistical = "eye_statistical.png";
inline constexpr const char* kEyeTimeDomain = "eye_time_domain.png";
inline constexpr const char* kPulseResponse = "pulse_response.png";
inline constexpr const char* kChannelPulse = "channel_pulse.png";
inline constexpr const char* kChannelImpulse = "channel_impulse.png";
inline constexpr const char* kFrequencyResponse = "frequency_response.png";
inline constexpr const char* kBathtub = "bathtub.png";
inline constexpr const char* kClockPeriod = "clock_period.png";
inline constexpr const char* kDfeTaps = "dfe_taps.png";
inline constexpr const char* kSweepPicture = "sweep_eye_height.png";
inline constexpr const char* kEyeContourCsv = "eye_contour.csv";
inline constexpr const char* kBathtubStatCsv = "bathtub_statistical.csv";
inline constexpr const char* kBathtubTdCsv = "bathtub_time_domain.csv";
inline constexpr const char* kCursorsCsv = "cursors.csv";
inline constexpr const char* kFrequencyCsv = "frequency_response.csv";
inline constexpr const char* kClockCsv = "clock_period.csv";
inline constexpr const char* kDfeTapsCsv = "dfe_taps.csv";
inline constexpr const char* kSweepCsv = "sweep.csv";
inline constexpr const char* kMarginWalkPicture = "margin_walk.png";
}  // namespace outfile

// Every file name a run may write.
const std::vector<std::string>& ownedFileNames();

// Creates `dir` (and its parents) when needed and makes sure a file can be written there;
// throws std::runtime_error with a clear message when it is a file, or not writable.
void prepareOutputFolder(const std::string& dir);

// Removes the files of ownedFileNames() found in `dir`; nothing else is touched.
void removeOwnedFiles(const std::string& dir);

// Writes `text` to dir/name through a temporary file, so that a failed write leaves no half
// file; throws std::runtime_error naming the file.
void writeTextFile(const std::string& dir, const std::string& name, const std::string& text);

}  // namespace amisim
