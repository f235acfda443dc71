// The device under test of the sound tests that measure a real filter: a
// LADSPA filter sink of the private server (module-ladspa-sink) in front of
// a null sink, and the same plugin run here on a unit impulse for its exact
// response.
//
// The filter: swh-plugins' Butterworth low-pass (two poles; the collection
// has no one-pole filter), corner 2000 Hz, resonance 1.4 (about -3 dB at the
// corner), -40 dB at 20 kHz.
#pragma once

#include "tests/sound/PulseTestSupport.h"

#include <dlfcn.h>

#include <complex>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace audimera {

namespace pulsetest {

constexpr const char* PluginFile = "/usr/lib/ladspa/butterworth_1902.so";
constexpr const char* PluginName = "butterworth_1902";
constexpr const char* PluginLabel = "buttlow_iir";
constexpr float Corner = 2000;
constexpr float Resonance = 1.4f; // just under the plugin's upper bound, 1.41

// The LADSPA 1.1 plugin interface, as far as it is used here.
struct LadspaDescriptor {
    unsigned long uniqueId;
    const char* label;
    int properties;
    const char* name;
    const char* maker;
    const char* copyright;
    unsigned long portCount;
    const int* portDescriptors;
    const char* const* portNames;
    const void* portRangeHints;
    void* implementationData;
    void* (*instantiate)(const LadspaDescriptor*, unsigned long rate);
    void (*connectPort)(void*, unsigned long port, float* data);
    void (*activate)(void*);
    void (*run)(void*, unsigned long samples);
    void (*runAdding)(void*, unsigned long);
    void (*setRunAddingGain)(void*, float);
    void (*deactivate)(void*);
    void (*cleanup)(void*);
};

// The plugin's first length samples of impulse response at 44100 Hz (long
// enough for it to die away); empty when the plugin is not installed.
inline std::vector<float> filterImpulse(int length)
{
    std::vector<float> out;
    void* library = dlopen(PluginFile, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return out;
    using Entry = const LadspaDescriptor* (*)(unsigned long);
    const auto entry = reinterpret_cast<Entry>(dlsym(library, "ladspa_descriptor"));
    const LadspaDescriptor* d = nullptr;
    for (unsigned long i = 0; entry && (d = entry(i)); ++i)
        if (std::string(d->label) == PluginLabel)
            break;
    if (d) {
        std::vector<float> in(size_t(length), 0.0f);
        out.assign(size_t(length), 0.0f);
        float corner = Corner, resonance = Resonance;
        void* filter = d->instantiate(d, SoundDevice::SampleRate);
        // Ports: cutoff, resonance, input, output.
        d->connectPort(filter, 0, &corner);
        d->connectPort(filter, 1, &resonance);
        d->connectPort(filter, 2, in.data());
        d->connectPort(filter, 3, out.data());
        if (d->activate)
            d->activate(filter);
        in[0] = 1;
        d->run(filter, static_cast<unsigned long>(length));
        d->cleanup(filter);
    }
    dlclose(library);
    return out;
}

// The transform of an impulse response at 44100 Hz, at hz.
inline std::complex<double> transformAt(const std::vector<float>& h, double hz)
{
    std::complex<double> sum = 0;
    for (size_t n = 0; n < h.size(); ++n)
        sum += double(h[n]) * std::polar(1.0, -2 * Pi * hz * double(n) / SoundDevice::SampleRate);
    return sum;
}

// The corner and resonance of the filter above, as the sink's control.
inline std::string filterControl()
{
    char control[64];
    std::snprintf(control, sizeof control, "%g,%g", double(Corner), double(Resonance));
    return control;
}

// The filter sink name in front of master (or another plugin's, with its
// control values), unloaded at the end of the test.
class FilterSink {
public:
    FilterSink(std::string server, const std::string& master, std::string name, const std::string& plugin = PluginName,
               const std::string& label = PluginLabel, const std::string& control = filterControl())
        : m_server(std::move(server)), m_name(std::move(name))
    {
        const CommandResult loaded =
            pactl(m_server, "load-module module-ladspa-sink sink_name=" + m_name + " sink_master=" + master +
                                " plugin=" + plugin + " label=" + label + " control=" + control);
        if (loaded.status == 0)
            m_module = std::atoi(loaded.output.c_str());
        else
            ADD_FAILURE() << "cannot load the LADSPA sink: " << loaded.output;
    }
    ~FilterSink()
    {
        if (m_module >= 0)
            pactl(m_server, "unload-module " + std::to_string(m_module));
    }
    FilterSink(const FilterSink&) = delete;
    FilterSink& operator=(const FilterSink&) = delete;

    const std::string& name() const { return m_name; }
    bool loaded() const { return m_module >= 0; }

private:
    std::string m_server;
    std::string m_name;
    int m_module = -1;
};

} // namespace pulsetest

} // namespace audimera
