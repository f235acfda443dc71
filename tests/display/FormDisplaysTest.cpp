// The presenter's display calls reach the three windows.
#include "display/windows/FormDisplays.h"
#include "display/windows/FormFFT.h"
#include "display/windows/FormInputWave.h"
#include "display/windows/FormResponse.h"

#include "tests/engine/EngineFixture.h"

#include <cmath>

namespace audimera {

namespace {

TEST(FormDisplaysTest, ASweepDrawsIntoTheWindows)
{
    ScriptedHost host;
    MeasurementDocument document;
    FormResponse response(document);
    FormInputWave wave;
    FormFFT fft;
    fft.InitFFTTables();
    FormDisplays displays(response, wave, fft);
    FakePanel panel;
    LoopbackDevice card;
    MeasurementSession session(host, card, document);
    MainPresenter engine(panel, session, displays);
    wave.setFrequencySource([&] { return session.frequency(); });
    initialiseTables(session);
    panel["TextStart"].text = "100";
    panel["TextStop"].text = "1000";
    panel["HScrollStep"].value = 200;
    engine.cmdStart_Click();
    EXPECT_EQ(response.store().GetTraceCount(), 1);
    EXPECT_EQ(response.store().pointCount(0), 5);
    EXPECT_EQ(wave.plot().WaveWidth(), 176); // four periods of 1000 Hz
    EXPECT_GT(fft.FFTPeak(), 1);
}

} // namespace

} // namespace audimera
