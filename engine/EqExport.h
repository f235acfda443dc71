// An equaliser's filters in the forms the equalisers people run read:
//
// - EqualizerAPO-style text: "Preamp: -x dB", then one line per enabled
//   filter, "Filter n: ON PK Fc f Hz Gain g dB Q q" (LSC / HSC for the
//   shelves; a shelf given by its slope is written with its equivalent Q);
// - a CamillaDSP configuration fragment: `filters:` (Biquad, Peaking /
//   Lowshelf / Highshelf with freq, gain, q) and `pipeline:` for two
//   channels, the preamp as a Gain filter;
// - a PipeWire filter-chain configuration for the PipeWire of Debian 12
//   (0.3.65): libpipewire-module-filter-chain with bq_peaking /
//   bq_lowshelf / bq_highshelf nodes per channel, stereo, making a sink
//   named SinkName; run as `pipewire -c FILE` (see pipewireNodes());
// - a minimum-phase FIR impulse response of the summed EQ with the preamp
//   (taps at rate), for a convolver: the cascade's own impulse response
//   (the cookbook's peaks and shelves are minimum phase), its last 1/32
//   faded out with a half cosine.
//
// Every form carries the preamp eqPreampDb(): nothing clips. Numbers are
// written with "." decimals whatever the locale. Saving goes through the
// one save path (CurveFile::writeText and its WAV counterpart) like every
// other file.
//
// Pure. Any thread.
#pragma once

#include "common/Result.h"
#include "signal/EqFilter.h"

#include <cstddef>
#include <string>
#include <vector>

namespace audimera {

namespace EqExport {

constexpr const char* SinkName = "Audimera EQ";
constexpr const char* SinkNodeName = "audimera_eq";
constexpr std::size_t DefaultFirTaps = 16384;
constexpr std::size_t MinFirTaps = 256;
constexpr std::size_t MaxFirTaps = 262144;

// Fails with BadInput when a filter cannot be written (a frequency at or
// beyond half the rate, a Q that is not positive, a value not finite, a
// shelf's slope too steep to have a Q for its gain), naming the filter by
// its place in filters, from 1. Disabled filters are left out. Numbers have
// at most 7 significant digits.
Result<std::string> apoText(const std::vector<EqFilter>& filters, double rate);
Result<std::string> camillaYaml(const std::vector<EqFilter>& filters, double rate);
Result<std::string> pipewireConf(const std::vector<EqFilter>& filters, double rate);
// The filter chain's nodes, in order, as pipewireConf() writes them: the
// preamp ("preamp", a bq_highshelf at 0 Hz, which is its gain at every
// frequency), then per enabled filter n "eq_n" (bq_peaking, bq_lowshelf,
// bq_highshelf); PipeWire 0.3.65's shelves have the slope S = 1 whatever
// their Q, so a shelf of another Q is written as that shelf at Q 1/sqrt 2
// and two bq_peaking nodes, "eq_n_poles" and "eq_n_zeros", whose product
// is the shelf asked for. filter holds the node's Freq, Q and Gain; its
// response is the cookbook's, so eqGainDb() of the filters of the nodes is
// what the chain does at rate. Filters that cannot be written give the
// preamp alone.
struct PipeWireNode {
    std::string name;
    std::string label;
    EqFilter filter;
};
std::vector<PipeWireNode> pipewireNodes(const std::vector<EqFilter>& filters, double rate);

// taps from MinFirTaps to MaxFirTaps; fails with BadInput otherwise.
Result<std::vector<float>> firTaps(const std::vector<EqFilter>& filters, double rate,
                                   std::size_t taps = DefaultFirTaps);

} // namespace EqExport

} // namespace audimera
