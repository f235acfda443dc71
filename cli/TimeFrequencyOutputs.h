// The time-frequency files of audimera-measure's logsweep and room verbs:
// the waterfall and the spectrogram as pictures (PNG or SVG, by the file's
// extension), the group delay with the measured, minimum and excess phase
// as CSV, and the waterfall's levels as CSV. All are made from the last log
// sweep of a session (a measurement, or an impulse response file opened
// through the session) by the analyses' default settings (WaterfallSettings,
// SpectrogramSettings, PhaseSettings), each analysis run once however many
// files read it.
#pragma once

#include "cli/CommandSetup.h"
#include "common/Result.h"

#include <optional>
#include <string>
#include <vector>

namespace audimera {

struct LogSweepRun;
struct PhaseResult;
struct WaterfallResult;

namespace MeasureCommand {

struct TimeFrequencyFiles {
    std::string waterfall;    // --waterfall: PNG or SVG
    std::string spectrogram;  // --spectrogram: PNG or SVG
    std::string groupDelay;   // --group-delay: CSV
    std::string waterfallCsv; // --waterfall-csv: CSV

    bool any() const;
    // The files named, with their options, for checkOutputs().
    std::vector<OutputFile> outputs() const;
};

// Reads the option at args[i] when it is one of the time-frequency files',
// moving i past its value. Nothing when it is none of them; else success, or
// a BadInput failure saying what is wrong (no file; a picture whose name
// ends in neither .png nor .svg).
std::optional<Status> parseTimeFrequencyOption(const std::vector<std::string>& args, std::size_t& i,
                                               TimeFrequencyFiles& files);

// The options' lines for a verb's usage text.
std::string timeFrequencyUsage();

// Analyses run's impulse response for the files named and appends each
// file, made, to pending (written later with the verb's other files, all or
// none). A failed analysis fails with its own kind, a picture that cannot
// be encoded with File; nothing is appended then.
Status addTimeFrequencyFiles(const LogSweepRun& run, const TimeFrequencyFiles& files,
                             std::vector<PendingFile>& pending);

// The CSV texts, lines ending in CR LF, numbers with "." always, rounded
// (Hz to 4 decimals, ms to 5, degrees to 4, dB to 3).
// Header "frequency_hz,group_delay_ms,excess_group_delay_ms,
// measured_phase_deg,minimum_phase_deg,excess_phase_deg", then one row per
// point; a masked value is an empty cell. The group delay is after the
// excitation (PhasePoint::groupDelayMs).
std::string groupDelayCsv(const PhaseResult& result);
// Header "time_ms,frequency_hz,level_db", then one row per slice and
// frequency, slice by slice.
std::string waterfallCsv(const WaterfallResult& result);

} // namespace MeasureCommand

} // namespace audimera
