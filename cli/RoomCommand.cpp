#include "cli/RoomCommand.h"

#include "cli/CommandSetup.h"
#include "cli/ExitCode.h"
#include "cli/TimeFrequencyOutputs.h"
#include "curves/ImpulseFile.h"
#include "devices/SimulatedSoundCard.h"
#include "engine/MeasurementDocument.h"
#include "engine/MeasurementSession.h"
#include "engine/RoomReport.h"

#include <charconv>
#include <ostream>

namespace audimera {

namespace MeasureCommand {

namespace {

struct Options {
    std::string file;
    RoomSettings settings;
    int channel = 1; // from 1, as the option counts
    std::string csv;
    TimeFrequencyFiles timeFrequency;
};

Status parse(const std::vector<std::string>& args, Options& o)
{
    auto bad = [](std::string what) { return Error::of(Failure::BadInput, std::move(what)); };
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        if (a == "--bands") {
            const std::optional<RoomSettings::Bands> bands = takeValue(args, i, v) ? parseRoomBands(v) : std::nullopt;
            if (!bands)
                return bad("--bands must be octave or third");
            o.settings.bands = *bands;
        } else if (a == "--channel") {
            int n = 0;
            const bool took = takeValue(args, i, v);
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
            if (!took || ec != std::errc() || end != v.data() + v.size() || n < 1)
                return bad("--channel needs the file's channel, counted from 1");
            o.channel = n;
        } else if (a == "--csv") {
            if (!takeValue(args, i, o.csv))
                return bad("--csv needs a file");
        } else if (const std::optional<Status> tf = parseTimeFrequencyOption(args, i, o.timeFrequency)) {
            if (!*tf)
                return *tf;
        } else if (a.rfind("--", 0) == 0) {
            return bad("unknown option '" + a + "'");
        } else if (!o.file.empty()) {
            return bad("room reads one file");
        } else {
            o.file = a;
        }
    }
    if (o.file.empty())
        return bad("room needs an impulse response file");
    return {};
}

} // namespace

std::optional<RoomSettings::Bands> parseRoomBands(const std::string& text)
{
    if (text == "octave")
        return RoomSettings::Bands::Octave;
    if (text == "third")
        return RoomSettings::Bands::Third;
    return std::nullopt;
}

std::string roomUsage()
{
    return R"(  audimera-measure room FILE [options]
      Room acoustics from an impulse response in a sound file (WAV, FLAC,
      AIFF...): EDT, T20, T30, C50, C80, D50, Ts, the fits' correlation r
      and the peak-to-noise ratio, broadband and per band (ISO 3382-1),
      printed as a table. A value not to be trusted is marked with '*' and
      explained under the table; '-' marks one that could not be found.

      --bands octave|third  octave bands 63 Hz to 8 kHz (default) or third-
                           octave bands 50 Hz to 10 kHz
      --channel N          the file's channel analysed, counted from 1
                           (default 1)
      --csv FILE           also write the figures as CSV, one row per band
)" + timeFrequencyUsage();
}

int room(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage)
{
    Options o;
    if (const Status parsed = parse(args, o); !parsed) {
        err << "audimera-measure: " << parsed.message() << "\n\n" << usage;
        return exitCodeFor(parsed);
    }
    std::vector<OutputFile> outputs = o.timeFrequency.outputs();
    outputs.insert(outputs.begin(), {"--csv", o.csv});
    if (const Status checked = checkOutputs({o.file}, outputs); !checked)
        return report(checked, err);

    const Result<ImpulseFile::Impulse> read = ImpulseFile::read(o.file, o.channel - 1);
    if (!read) {
        err << "Error loading file '" << o.file << "' : " << read.message() << '\n';
        return exitCodeFor(read);
    }
    RoomAcoustics acoustics;
    const Result<RoomResults> results =
        acoustics.analyse(read->samples.data(), read->samples.size(), read->rate, o.settings);
    if (!results) {
        err << "'" << o.file << "': " << results.message() << '\n';
        return exitCodeFor(results);
    }
    err << "Impulse response: channel " << o.channel << " of " << read->channels << ", " << read->samples.size()
        << " samples at " << read->rate << " Hz, starting at sample " << results->startSample << '\n';

    std::vector<PendingFile> files;
    if (!o.csv.empty())
        files.push_back({o.csv, RoomReport::csv(*results), "Room figures written to " + o.csv});
    if (o.timeFrequency.any()) {
        // The time-frequency analyses read the response as the Log Sweep
        // window does once it opens the file: through a session, which needs
        // a device it never plays on.
        ConsoleHost host(err, false, false);
        SimulatedSoundCard unused;
        MeasurementDocument document;
        MeasurementSession session(host, unused, document);
        if (const Status opened = session.openImpulseResponse(o.file, o.channel - 1, LogSweepSettings{}); !opened)
            return report(opened, err);
        if (const Status added = addTimeFrequencyFiles(*session.lastLogSweep(), o.timeFrequency, files); !added)
            return report(added, err);
    }
    if (const Status written = writeOutputs(files, err); !written)
        return report(written, err);
    out << RoomReport::table(*results);
    return Measured;
}

} // namespace MeasureCommand

} // namespace audimera
