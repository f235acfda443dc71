#include "signal/FrequencyPlan.h"

#include "curves/FieldReader.h"

namespace audimera {

const std::array<double, 15> FrequencyPlan::IsoBands15 = {
    25, 40, 63, 100, 160, 250, 400, 630, 1000, 1600, 2500, 4000, 6300, 10000, 16000};

const std::array<double, 31> FrequencyPlan::IsoBands31 = {
    20,   25,   31.5, 40,   50,   63,   80,   100,  125,   160,   200,
    250,  315,  400,  500,  630,  800,  1000, 1250, 1600,  2000,  2500,
    3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000, 20000};

namespace {

// The value that ends every list.
constexpr double EndOfList = -1;

template <std::size_t N>
std::vector<double> terminatedList(const std::array<double, N>& bands)
{
    std::vector<double> list(bands.begin(), bands.end());
    list.push_back(EndOfList);
    return list;
}

} // namespace

audimera::Status FrequencyPlan::ResetGenerator(int genIndex, const std::string& userFile)
{
    FreqListPos = 0;
    m_notice.clear();
    switch (genIndex) {
    case Bands15Plan:
        FreqList = terminatedList(IsoBands15);
        return {};
    case Bands31Plan:
        FreqList = terminatedList(IsoBands31);
        return {};
    case UserFilePlan:
        return readListFile(userFile);
    default:
        return {};
    }
}

audimera::Status FrequencyPlan::readListFile(const std::string& userFile)
{
    const auto failure = [&userFile](const std::string& reason) {
        return audimera::Error{"Error reading user frequency file '" + userFile + "' : \n" + reason};
    };

    FreqList.assign(1, EndOfList);
    FieldReader reader;
    if (audimera::Status opened = reader.open(userFile); !opened)
        return failure(opened.message());

    // Built without the end mark, which is appended once reading stops.
    FreqList.clear();
    audimera::Status outcome;
    double value = 0;
    FieldReader::Status status;
    while ((status = reader.next(value)) == FieldReader::Status::Field) {
        if (value < MinListFrequency || value > MaxListFrequency)
            continue;
        if (!FreqList.empty() && !(value > FreqList.back()))
            continue;
        if (FreqList.size() == MaxListEntries) {
            outcome = failure("more than " + std::to_string(MaxListEntries)
                              + " frequencies at line " + std::to_string(reader.line()));
            break;
        }
        FreqList.push_back(value);
    }
    if (status == FieldReader::Status::Error)
        outcome = failure(reader.error());
    else if (outcome && FreqList.empty())
        m_notice = "Bad frequency file, no entry found !";
    FreqList.push_back(EndOfList);
    return outcome;
}

double FrequencyPlan::GetNextGeneratorFreq()
{
    if (FreqListPos < 0 || static_cast<std::size_t>(FreqListPos) >= FreqList.size())
        return EndOfList;
    return FreqList[FreqListPos++];
}

} // namespace audimera
