// The frequency lists a sweep can follow: the 15 or 31 ISO third-octave
// bands, or the entries of a user's list file. The geometric range plan is
// computed by the sweep itself and builds no list.
#pragma once

#include "common/Result.h"

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace audimera {

class FrequencyPlan {
public:
    // Plans by generator index.
    static constexpr int RangePlan = 0;
    static constexpr int Bands15Plan = 1;
    static constexpr int Bands31Plan = 2;
    static constexpr int UserFilePlan = 3;

    // Accepted list-file frequencies, both ends included.
    static constexpr double MinListFrequency = 10;
    static constexpr double MaxListFrequency = 24000;
    // A list file with more accepted entries than this is refused; a sweep
    // of that many points would take days anyway.
    static constexpr std::size_t MaxListEntries = 1000000;

    // Builds FreqList for plan genIndex (1: 15 bands, 2: 31 bands, 3: the list
    // file userFile; any other: FreqList unchanged) and sets FreqListPos = 0.
    //
    // A list file keeps the values from 10 to 24000 Hz that rise above the
    // last value kept and skips the others silently. Without any such value
    // the list is empty (only -1) and notice() says so; that is no failure.
    // When the file cannot be opened or read, or holds something that is not
    // a number, it fails with what the user is told (the sweep must not run);
    // FreqList then holds the values kept before the failure.
    audimera::Status ResetGenerator(int genIndex, const std::string& userFile);

    // What the last ResetGenerator() that succeeded tells the user all the
    // same (a list file without any entry); empty otherwise.
    const std::string& notice() const { return m_notice; }

    // FreqList[FreqListPos++]; past the end of the list (or before its start)
    // it returns -1 and stays put.
    double GetNextGeneratorFreq();

    std::vector<double> FreqList; // the frequencies, then -1
    int FreqListPos = 0;

    static const std::array<double, 15> IsoBands15;
    static const std::array<double, 31> IsoBands31;

private:
    audimera::Status readListFile(const std::string& userFile);

    std::string m_notice;
};

} // namespace audimera
