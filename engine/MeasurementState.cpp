#include "engine/MeasurementState.h"

#include "dsp/DspLibrary.h"
#include "signal/SignalSynthesis.h"

namespace audimera {

MeasurementState::MeasurementState()
    : ToneBuffer(ToneSamples),
      WhiteNoiseBuffer(ToneSamples),
      PinkNoiseBuffer(ToneSamples),
      RecBuffer(RecordSamples),
      FFTIn(RecordSamples),
      FFTOUT(RecordSamples)
{
}

void MeasurementState::InitWhitePinkBuffers()
{
    audimera::InitWhitePinkBuffers(WhiteNoiseBuffer.data(), PinkNoiseBuffer.data(), &Audidsp::LowPass44);
}

} // namespace audimera
