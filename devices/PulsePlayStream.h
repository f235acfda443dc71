// The play side of the sound card on the sound server: one playback stream,
// stereo float at the rate the sink runs at, fed by the band-limited
// TablePlayer with software level and balance. The player renders the table
// straight at that rate (a table read at rate R sounds at the same frequency
// whatever the stream's rate), so the server converts nothing and the tones
// stay flat to 20 kHz on a sink at 48000 Hz too. The stream runs from open to
// close; while nothing plays it carries silence, so starting a tone never
// waits for a stream set-up.
//
// Buffering is kept short (40 ms queued, refilled every 10 ms): a rate change
// reaches the output within about 30 ms instead of the server's default of
// about 2 s, so a block recorded 200 ms after it holds only the new tone.
// Less would risk gaps when the machine is busy.
//
// Threads: the public methods run on the UI thread. The write callback runs
// on the server's thread; it shares with the UI thread only atomics (rate and
// play state inside the player, the gains, the table-busy flag), and the
// table or period, which the UI thread rewrites only while the callback is
// kept out of the player (see restart). The callback never allocates, blocks or throws.
#pragma once

#include "devices/PulseStream.h"
#include "signal/TablePlayer.h"

#include <atomic>
#include <string>
#include <vector>

namespace audimera {

class PulsePlayStream : public PulseStream {
public:
    static constexpr int Channels = 2;
    // Buffer attributes in frames at 44100 Hz (the same times at the
    // stream's own rate): what the server keeps queued, what it asks for at a
    // time, and what it waits for before (re)starting.
    static constexpr int TargetFrames = 1764; // 40 ms
    static constexpr int RequestFrames = 441; // 10 ms
    static constexpr int PrebufferFrames = 882;
    // Level and balance changes ramp over this many frames at 44100 Hz
    // (5 ms): no click.
    static constexpr int RampFrames = 220;

    explicit PulsePlayStream(PulseContext& pulse);
    ~PulsePlayStream();

    // Connects a stream to the sink named device, at the rate the sink runs
    // at (44100 Hz when the server does not say; within the player's
    // output rates). Only when it is ready does it replace the current
    // stream, stopped, at full level and centred; otherwise the current
    // stream stays as it was and the server's reason is returned.
    audimera::Status open(const std::string& device);
    // Releases the stream (the tone stops).
    void close();

    // Stops, then plays the first PlaySamples samples of table in a loop at
    // rate (clamped), from its first sample. Whatever was queued of the
    // previous sound is dropped, so the new table starts at once.
    audimera::Status playLoop(const int16_t* table, int rate);
    // Stops, then plays period (full scale 1.0, at streamRate(); the
    // player's MinPeriod..MaxPeriod samples) in a loop, every sample as it
    // is, from its first sample, with the level and balance set. The queued
    // sound is dropped as by playLoop; playLoop plays a table again.
    audimera::Status playPeriod(const std::vector<float>& period);
    // Stops and rewinds; the queued sound is dropped too.
    void stop();
    // Waits (through waiter) until the server has answered the last drop
    // of queued sound, or StallMs have passed; false when waiter gave up.
    // Until it answers, sound the sink rendered from the queue before the
    // drop may still be on its way to a recording inside the server.
    bool awaitFlush(RecordWaiter& waiter);
    static constexpr int StallMs = 2000;
    // Clamped to SoundDevice::MinRate..MaxRate; applies while playing.
    void setRate(int rate);
    // Hundredths of a dB, see SoundDevice::SetPlayVolume / SetPlayPan.
    void setVolume(int volume);
    void setPan(int pan);
    int volume() const { return m_volume; }
    int pan() const { return m_pan; }
    int rate() const { return m_rate; }
    // The rate of the open stream in Hz (the sink's); 0 when none is open.
    int streamRate() const { return m_stream ? m_player.outputRate() : 0; }
    bool isPlaying() const { return m_player.isPlaying(); }

private:
    static void writeCallback(pa_stream* stream, size_t bytes, void* self);
    // Fills frames of interleaved stereo output. Server's thread.
    void render(float* out, int frames) noexcept;
    void applyGains();
    // Drops the sound queued on the server. Lock held.
    void flushQueued();
    void forgetFlush(); // lock held
    // Stops, hands the player to load() (the callback kept out of it, the
    // queued sound dropped) and starts it again.
    template <typename Load>
    audimera::Status restart(Load load);

    pa_operation* m_flush = nullptr; // the last drop asked for, until answered

    TablePlayer m_player;
    // Set while the UI thread rewrites the player's table: the callback then
    // writes silence and leaves the player alone.
    std::atomic<bool> m_tableBusy{false};
    std::atomic<float> m_leftGain{1.0f};
    std::atomic<float> m_rightGain{1.0f};

    // UI thread.
    int m_rate = SoundDevice::SampleRate;
    int m_volume = 0;
    int m_pan = 0;

    // Server's thread.
    std::vector<float> m_mono;
    float m_left = 1.0f, m_right = 1.0f;         // gains now
    float m_leftTo = 1.0f, m_rightTo = 1.0f;     // where the ramp goes
    float m_leftStep = 0.0f, m_rightStep = 0.0f; // per frame
    int m_rampLeft = 0;                          // frames of ramp still to go
    int m_rampFrames = RampFrames;               // a ramp's length at the stream's rate
};

} // namespace audimera
