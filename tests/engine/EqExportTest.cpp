// The equaliser's exports: the filters as written in the EqualizerAPO text,
// played through SoX's equalizer, bass and treble effects (biquads no one
// here wrote), against the predicted curve; the FIR against the same curve;
// the forms' texts.
#include "curves/ImpulseFile.h"
#include "engine/EqExport.h"
#include "signal/RealFft.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <numbers>
#include <sstream>

namespace audimera {

namespace {

using Type = EqFilter::Type;

const std::vector<EqFilter> EightFilters = {
    {Type::LowShelf, 80, 3, 0.7}, {Type::Peaking, 42, -10, 6}, {Type::Peaking, 71, -9, 8},
    {Type::Peaking, 115, -10, 5}, {Type::Peaking, 400, 2.5, 2}, {Type::Peaking, 1800, -4, 3},
    {Type::Peaking, 6000, 3, 1},  {Type::HighShelf, 10000, -3, 0.8, true}};

// The largest difference in dB between a response's spectrum (bins at
// rate / size, scaled by 1 / scale) and the EQ with its preamp, 20 Hz to
// 20 kHz (below 0.45 rate); and the largest in phase, degrees, when asked.
std::pair<double, double> worstAgainstEq(RealFft& fft, double scale, const std::vector<EqFilter>& filters, double rate)
{
    fft.forward();
    const double preamp = eqPreampDb(filters, rate);
    double worstDb = 0, worstDegrees = 0;
    for (std::size_t k = 1; k < fft.bins(); ++k) {
        const double hz = double(k) * rate / double(fft.size());
        if (hz < 20 || hz > std::min(20000.0, 0.45 * rate))
            continue;
        const std::complex<double> x = fft.spectrum()[k] / scale;
        worstDb = std::max(worstDb, std::abs(20 * std::log10(std::abs(x)) - eqGainDb(filters, hz, rate) - preamp));
        const double phase = std::remainder(std::arg(x / eqResponse(filters, hz, rate)), 2 * std::numbers::pi);
        worstDegrees = std::max(worstDegrees, std::abs(phase) * 180 / std::numbers::pi);
    }
    return {worstDb, worstDegrees};
}

TEST(EqExportTest, SoxPlayingTheApoTextMatchesThePredictedCurve)
{
    if (std::system("command -v sox >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "sox is not installed (Debian package sox): the outside reference is missing";
    const std::pair<const char*, std::vector<EqFilter>> cases[] = {
        {"peaking", {{Type::Peaking, 1000, 6, 1.41}, {Type::Peaking, 60, -12, 8}}},
        {"low shelves", {{Type::LowShelf, 120, 6, 0.707}, {Type::LowShelf, 300, -8, 0.6, true}}},
        {"high shelves", {{Type::HighShelf, 3000, -6, 0.9}, {Type::HighShelf, 8000, 4, 1, true}}},
        {"8 filters", EightFilters}};
    TestFolder folder;
    const std::string in = folder.file("impulse.wav"), out = folder.file("out.wav");
    constexpr std::size_t Length = 1 << 17;
    constexpr double Level = 0.1; // room for the boosts: SoX's samples clip at full scale
    for (const double rate : {44100.0, 48000.0}) {
        std::vector<float> impulse(Length, 0.0f);
        impulse[0] = float(Level);
        ASSERT_TRUE(ImpulseFile::writeWav(in, impulse, int(rate)).ok());
        for (const auto& [name, filters] : cases) {
            // The effects from the text: SoX's q width is the cookbook's Q.
            const Result<std::string> apo = EqExport::apoText(filters, rate);
            ASSERT_TRUE(apo.ok()) << apo.message();
            std::istringstream lines(*apo);
            std::string line, effects;
            double preamp = 0, hz = 0, gain = 0, q = 0;
            char type[4] = {};
            ASSERT_TRUE(std::getline(lines, line) && std::sscanf(line.c_str(), "Preamp: %lf dB", &preamp) == 1);
            while (std::getline(lines, line)) {
                ASSERT_EQ(std::sscanf(line.c_str(), "Filter %*d: ON %3s Fc %lf Hz Gain %lf dB Q %lf", type, &hz, &gain, &q), 4)
                    << line;
                const std::string f = std::to_string(hz), g = std::to_string(gain), w = std::to_string(q) + "q";
                const std::string t = type;
                effects += t == "PK" ? " equalizer " + f + " " + w + " " + g
                                     : (t == "LSC" ? " bass " : " treble ") + g + " " + f + " " + w;
            }
            // 32-bit integers out: SoX's float output drops the quietest tail.
            const std::string command = "sox -V1 -D '" + in + "' -e signed-integer -b 32 '" + out + "'" + effects
                                        + " gain " + std::to_string(preamp) + " 2>&1";
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
            const Result<ImpulseFile::Impulse> played = ImpulseFile::read(out);
            ASSERT_TRUE(played.ok() && played->samples.size() == Length) << played.message();
            RealFft fft(Length);
            std::copy(played->samples.begin(), played->samples.end(), fft.time());
            const double worst = worstAgainstEq(fft, Level, filters, rate).first;
            std::cout << name << " at " << rate << " Hz: SoX against the predicted EQ, worst " << worst << " dB\n";
            EXPECT_LT(worst, 0.01) << name << " at " << rate << ": " << command;
        }
    }
}

// The FIR in minimum phase, and the PipeWire nodes, which write a shelf of a
// Q other than 1/sqrt 2 as three nodes (PipeWire 0.3.65's shelves have the
// slope S = 1 whatever their Q).
TEST(EqExportTest, TheFirAndThePipeWireNodesAreTheEqWithItsPreamp)
{
    std::vector<EqFilter> filters = EightFilters;
    filters.insert(filters.end(), {{Type::LowShelf, 150, 6, 2}, {Type::HighShelf, 5000, -6, 0.5}});
    for (const double rate : {44100.0, 48000.0}) {
        const Result<std::vector<float>> taps = EqExport::firTaps(filters, rate);
        ASSERT_TRUE(taps.ok() && taps->size() == EqExport::DefaultFirTaps) << taps.message();
        RealFft fft(4 * taps->size());
        std::fill(std::copy(taps->begin(), taps->end(), fft.time()), fft.time() + fft.size(), 0.0);
        const auto [db, degrees] = worstAgainstEq(fft, 1, filters, rate);
        std::cout << "FIR of " << taps->size() << " taps at " << rate << " Hz: worst " << db << " dB, " << degrees
                  << " degrees from the EQ's own (minimum) phase\n";
        EXPECT_LT(db, 0.001);
        EXPECT_LT(degrees, 0.01);

        const std::vector<EqExport::PipeWireNode> nodes = EqExport::pipewireNodes(filters, rate);
        ASSERT_EQ(nodes.size(), 1 + 10 + 2 * 4u); // the preamp, the filters, two more for each shelf
        std::vector<EqFilter> chain;
        for (std::size_t i = 1; i < nodes.size(); ++i) {
            EXPECT_TRUE(nodes[i].filter.type == Type::Peaking || std::abs(nodes[i].filter.q - 1 / std::numbers::sqrt2) < 1e-12);
            chain.push_back(nodes[i].filter);
        }
        const double preamp = eqPreampDb(filters, rate);
        double worst = 0;
        for (double hz = 10; hz < rate / 2; hz *= std::exp2(1.0 / 96))
            worst = std::max(worst, std::abs(eqGainDb(chain, hz, rate) + nodes[0].filter.gainDb - eqGainDb(filters, hz, rate) - preamp));
        EXPECT_LT(worst, 1e-9) << rate;
    }
}

TEST(EqExportTest, TheFormsWriteEveryEnabledFilterWithThePreampOrSayWhyNot)
{
    using Form = std::function<Result<std::string>(const std::vector<EqFilter>&)>;
    const Form apo = [](const auto& f) { return EqExport::apoText(f, 48000); };
    const Form camilla = [](const auto& f) { return EqExport::camillaYaml(f, 48000); };
    const Form pipewire = [](const auto& f) { return EqExport::pipewireConf(f, 48000); };
    const Form fir = [](const auto& f) -> Result<std::string> {
        const Result<std::vector<float>> taps = EqExport::firTaps(f, 48000, 1024);
        return taps ? Result<std::string>(std::to_string(taps->size()) + " taps") : Result<std::string>(taps.error());
    };
    // A cut, a shelf given by its slope (S 1: Q 1/sqrt 2), a boost that is off.
    const std::vector<EqFilter> cuts = {
        {Type::Peaking, 1000, -6, 1.41}, {Type::LowShelf, 100, -4, 1, true}, {Type::HighShelf, 5000, 3, 1, false, false}};
    const std::vector<EqFilter> boost = {{Type::Peaking, 1000, 6, 2}};
    struct Case {
        const char* name;
        Form form;
        std::vector<EqFilter> filters;
        std::vector<std::string> holds;
    };
    const Case cases[] = {
        {"apo", apo, cuts,
         {"Preamp: 0 dB\nFilter 1: ON PK Fc 1000 Hz Gain -6 dB Q 1.41\nFilter 2: ON LSC Fc 100 Hz Gain -4 dB Q 0.7071068\n"}},
        {"camilladsp", camilla, boost,
         {"filters:\n  audimera_preamp:\n    type: Gain\n    parameters:\n      gain: -6\n",
          "    type: Biquad\n    parameters:\n      type: Peaking\n      freq: 1000\n      gain: 6\n      q: 2\npipeline:\n",
          "    channel: 1\n    names:\n      - audimera_preamp\n      - audimera_eq_1\n"}},
        {"camilladsp, a shelf", camilla, cuts, {"      type: Lowshelf\n      freq: 100\n      gain: -4\n      q: 0.7071068\n"}},
        {"pipewire", pipewire, cuts,
         {"libpipewire-module-filter-chain", "node.description = \"Audimera EQ\"", "node.name   = \"audimera_eq\"",
          "name = eq_2 label = bq_lowshelf control = { \"Freq\" = 100 \"Q\" = 0.7071068 \"Gain\" = -4 } }",
          "{ output = \"eq_1:Out\" input = \"eq_2:In\" }", "inputs  = [ \"preamp:In\" ]", "outputs = [ \"eq_2:Out\" ]"}},
        {"pipewire, a boost", pipewire, boost, {"name = preamp label = bq_highshelf control = { \"Freq\" = 0 \"Q\" = 0.7071068 \"Gain\" = -6 }"}},
        {"fir", fir, cuts, {"1024 taps"}},
    };
    for (const Case& c : cases) {
        const Result<std::string> text = c.form(c.filters);
        ASSERT_TRUE(text.ok()) << c.name << ": " << text.message();
        for (const std::string& part : c.holds)
            EXPECT_NE(text->find(part), std::string::npos) << c.name << " lacks\n" << part << "\nin\n" << *text;
    }
    // What no equaliser can run, refused by every form, naming the filter.
    const std::vector<EqFilter> refused[] = {{boost[0], {Type::Peaking, 24000, -3, 1}},
                                             {boost[0], {Type::Peaking, 100, -3, 0}},
                                             {boost[0], {Type::LowShelf, 100, 12, 6, true}},
                                             {boost[0], {Type::Peaking, 100, NAN, 1}}};
    for (const Form& form : {apo, camilla, pipewire, fir})
        for (const std::vector<EqFilter>& filters : refused) {
            const Result<std::string> text = form(filters);
            EXPECT_EQ(text.kind(), Failure::BadInput) << text.message();
            EXPECT_EQ(text.message().rfind("filter 2: ", 0), 0u) << text.message();
        }
}

} // namespace

} // namespace audimera
