// Fuzz target: the frequency-list reader (FrequencyPlan::ResetGenerator with
// the user file plan) and the hand-out of its list.
//
// Checks, besides the sanitizers:
// - the list ends in -1 and, before that, rises strictly within 10..24000 Hz;
// - it holds exactly the values the list rules keep from the fields of the
//   same text read from memory, up to a read error;
// - the outcome: ok with no message, ok with the empty-list message, or not
//   ok with the reading error message, as the fields say;
// - GetNextGeneratorFreq hands out the list in order, then -1 for good.

#include "signal/FrequencyPlan.h"
#include "fuzz/FuzzSupport.h"

#include <string>
#include <vector>

using namespace audimera;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string text = fuzz::asText(data, size);
    const std::string& path = fuzz::writeInput(text);
    const fuzz::Fields fields = fuzz::fieldsOfText(text);

    FrequencyPlan plan;
    plan.FreqList = {440, 880, -1}; // a list from before, to be replaced
    plan.FreqListPos = 2;
    const audimera::Status outcome = plan.ResetGenerator(FrequencyPlan::UserFilePlan, path);

    std::vector<double> expected;
    for (const double v : fields.values) {
        if (v < FrequencyPlan::MinListFrequency || v > FrequencyPlan::MaxListFrequency)
            continue;
        if (!expected.empty() && !(v > expected.back()))
            continue;
        expected.push_back(v);
    }
    expected.push_back(-1);

    FUZZ_CHECK(plan.FreqListPos == 0);
    const std::vector<double>& list = plan.FreqList;
    FUZZ_CHECK(!list.empty() && list.back() == -1);
    for (std::size_t i = 0; i + 1 < list.size(); ++i) {
        FUZZ_CHECK(list[i] >= FrequencyPlan::MinListFrequency && list[i] <= FrequencyPlan::MaxListFrequency);
        FUZZ_CHECK(i == 0 || list[i] > list[i - 1]);
    }
    FUZZ_CHECK(list == expected);

    FUZZ_CHECK(fuzz::isPrintable(outcome.message()));
    FUZZ_CHECK(!outcome.isFatal());
    if (fields.error) {
        FUZZ_CHECK(!outcome.ok());
        FUZZ_CHECK(outcome.message()
                   == "Error reading user frequency file '" + path + "' : \n" + fields.errorText);
    } else if (list.size() == 1) {
        FUZZ_CHECK(outcome.ok());
        FUZZ_CHECK(plan.notice() == "Bad frequency file, no entry found !");
    } else {
        FUZZ_CHECK(outcome.ok());
        FUZZ_CHECK(plan.notice().empty());
    }

    for (const double f : list)
        FUZZ_CHECK(plan.GetNextGeneratorFreq() == f);
    FUZZ_CHECK(plan.GetNextGeneratorFreq() == -1);
    FUZZ_CHECK(plan.FreqListPos == static_cast<int>(list.size()));
    return 0;
}
