// The room figures of RoomAcoustics as text: the table printed by
// 'audimera-measure room' and the CSV file written by 'room --csv' and
// 'logsweep --room', so that the command and the window word them alike.
//
// Table: one row per band, broadband first, columns band, EDT s, T20 s,
// T30 s, C50 dB, C80 dB, D50, Ts ms, r (T20), r (T30), PNR dB. A value with
// flags is printed with a trailing '*', a missing one as '-'; under the
// table one legend line for each flag that occurs, with its reason
// (RoomAcoustics::flagReason).
//
// CSV: the header
//   band_hz,edt_s,t20_s,t30_s,c50_db,c80_db,d50,ts_ms,r_t20,r_t30,pnr_db,flags
// then one row per band. band_hz is the band's nominal mid-band frequency
// as a number (its label: "1.25k" is 1250, "31.5" is 31.5), 0 for the
// broadband row. A missing value is an empty cell; a flagged one is written
// as it is, and its flags go to the last cell as parameter:flag pairs
// joined by ';' (t30:low-pnr;edt:low-correlation), empty when there are
// none. Numbers always have '.' as the decimal point and fixed decimals:
// times in s 3, dB 2, D50 3, Ts 1, r 4, PNR 1. Lines end in CR LF, as the
// other CSV files do.
#pragma once

#include "signal/RoomAcoustics.h"

#include <string>

namespace audimera {

namespace RoomReport {

// The flag's short name in the CSV and the legend: low-correlation,
// low-pnr, filter-limited, no-value.
const char* flagName(RoomFlag flag);

// The band's number in the CSV's band_hz cell: the nominal mid-band
// frequency, 0 for broadband.
double bandHz(const RoomBandPlan& band);

// The printed table with its legend, lines ending in '\n'.
std::string table(const RoomResults& results);

inline constexpr const char* CsvHeader = "band_hz,edt_s,t20_s,t30_s,c50_db,c80_db,d50,ts_ms,r_t20,r_t30,pnr_db,flags";

// The CSV text.
std::string csv(const RoomResults& results);

} // namespace RoomReport

} // namespace audimera
