// A session's observer for tests: answers the runs' questions from its
// fields, keeps a sweep's points in a document, as the main window does, and
// records what the runs report.
#pragma once

#include "engine/MeasurementDocument.h"
#include "engine/MeasurementSession.h"

#include <map>
#include <utility>
#include <vector>

namespace audimera {

class RecordingObserver : public SessionObserver {
public:
    explicit RecordingObserver(MeasurementDocument& document) : m_document(document) {}

    // --- Answers.
    bool badBlocksAgain = true;
    double step = 1.26;
    SignalChoice signal;

    bool measuresBadBlocksAgain() const override { return badBlocksAgain; }
    double stepFactor() const override { return step; }
    SignalChoice signalChoice() override { return signal; }
    Status openTrace() override { return m_document.openTrace(); }

    // --- Reports.
    std::vector<std::pair<Sound, double>> sounds; // playing(): what sounds, at which frequency
    std::vector<double> levels;                   // levelMeasured(): the signal's levels
    std::map<double, Distortion> distortion;      // of the last measured block at each frequency
    std::vector<RunEnd> ends;                     // runEnded()
    int calibrations = 0, activity = 0;

    void playing(Sound sound, double frequency) override { sounds.emplace_back(sound, frequency); }
    void calibrationMeasured(double) override { ++calibrations; }
    void pointMeasured(double frequency, double level, double) override
    {
        m_document.traces().AddPoint(frequency, level);
    }
    void levelMeasured(double level, double) override { levels.push_back(level); }
    void distortionMeasured(double frequency, const Distortion& d) override { distortion[frequency] = d; }
    void runEnded(RunEnd why) override { ends.push_back(why); }
    void activityChanged() override { ++activity; }

private:
    MeasurementDocument& m_document;
};

} // namespace audimera
