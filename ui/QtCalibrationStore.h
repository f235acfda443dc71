// The sound level meter's calibrations kept in the program's settings,
// QSettings("Audimera", "Audimera"), one per record device under
// SettingsGroup, keyed by the device's name (SoundDeviceInfo::name,
// percent-encoded so a name with "/" stays one key). A calibration is only
// ever read back for the device it was made with.
//
// UI thread only.
#pragma once

#include "engine/LiveAnalysis.h"

#include <optional>
#include <string>
#include <vector>

namespace audimera {

class QtCalibrationStore : public CalibrationStore {
public:
    static constexpr const char* SettingsGroup = "SplCalibration";

    std::optional<SplCalibration> load(const std::string& device) override;
    void save(const SplCalibration& calibration) override;
    // Forgets the device's calibration.
    void remove(const std::string& device);
    // Every calibration kept, in no particular order (to say that one
    // exists for another device).
    std::vector<SplCalibration> all();
};

} // namespace audimera
