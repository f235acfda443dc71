#include "devices/PulseContext.h"

#include <cstring>
#include <utility>

namespace audimera {

using audimera::Error;
using audimera::Status;

PulseContext::PulseContext(std::string server)
    : m_server(std::move(server))
{
    m_sinks.devices.resize(MaxDevices);
    m_sources.devices.resize(MaxDevices);
}

PulseContext::~PulseContext()
{
    disconnect();
}

bool PulseContext::isReady() const
{
    return m_context && m_state.load(std::memory_order_acquire) == PA_CONTEXT_READY;
}

bool PulseContext::isDead() const
{
    const int state = m_state.load(std::memory_order_acquire);
    return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
}

std::string PulseContext::errorText() const
{
    if (!m_context)
        return NotConnected;
    return pa_strerror(pa_context_errno(m_context));
}

void PulseContext::stateCallback(pa_context* context, void* self)
{
    static_cast<PulseContext*>(self)->m_state.store(pa_context_get_state(context), std::memory_order_release);
}

Status PulseContext::connect()
{
    if (isReady())
        return {};
    if (m_context) {
        Lock lock(*this);
        dropContext();
    }
    if (!m_mainloop) {
        m_mainloop = pa_threaded_mainloop_new();
        if (!m_mainloop)
            return Error{"Cannot create the sound server's thread"};
        if (pa_threaded_mainloop_start(m_mainloop) < 0) {
            pa_threaded_mainloop_free(m_mainloop);
            m_mainloop = nullptr;
            return Error{"Cannot start the sound server's thread"};
        }
    }

    {
        Lock lock(*this);
        m_state.store(PA_CONTEXT_UNCONNECTED);
        m_context = pa_context_new(pa_threaded_mainloop_get_api(m_mainloop), "Audimera");
        if (!m_context)
            return Error{"Cannot create a sound server connection"};
        pa_context_set_state_callback(m_context, &PulseContext::stateCallback, this);
        // A measurement program has no business starting a server itself.
        if (pa_context_connect(m_context, m_server.empty() ? nullptr : m_server.c_str(), PA_CONTEXT_NOAUTOSPAWN,
                               nullptr)
            < 0) {
            Error reason{errorText()};
            dropContext();
            return reason;
        }
    }

    const bool ready = waitUntil([this] { return m_state.load() == PA_CONTEXT_READY; });
    Lock lock(*this);
    if (ready) {
        // Devices that come or go, and a new default, are counted from here.
        // Nothing waits for the answer: a server that refuses only leaves
        // the lists as they are read.
        pa_context_set_subscribe_callback(m_context, &PulseContext::subscribeCallback, this);
        const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE
                                                 | PA_SUBSCRIPTION_MASK_SERVER);
        if (pa_operation* subscribe = pa_context_subscribe(m_context, mask, nullptr, nullptr))
            pa_operation_unref(subscribe);
        return {};
    }
    Error reason{isDead() ? errorText() : std::string(pa_strerror(PA_ERR_TIMEOUT))};
    dropContext();
    return reason;
}

void PulseContext::dropContext()
{
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
    m_state.store(PA_CONTEXT_UNCONNECTED);
}

void PulseContext::disconnect()
{
    if (!m_mainloop)
        return;
    {
        Lock lock(*this);
        dropContext();
    }
    pa_threaded_mainloop_stop(m_mainloop);
    pa_threaded_mainloop_free(m_mainloop);
    m_mainloop = nullptr;
}

void PulseContext::subscribeCallback(pa_context*, pa_subscription_event_type_t event, uint32_t, void* self)
{
    const unsigned facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const unsigned type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    // A device's changes of state or volume come often and change no list.
    const bool device = (facility == PA_SUBSCRIPTION_EVENT_SINK || facility == PA_SUBSCRIPTION_EVENT_SOURCE)
                        && type != PA_SUBSCRIPTION_EVENT_CHANGE;
    if (device || facility == PA_SUBSCRIPTION_EVENT_SERVER)
        static_cast<PulseContext*>(self)->m_deviceEvents.fetch_add(1, std::memory_order_release);
}

bool PulseContext::finish(pa_operation* operation, Clock::time_point end)
{
    if (!operation)
        return false;
    const bool done = waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; },
                                end);
    Lock lock(*this);
    const bool completed = done && pa_operation_get_state(operation) == PA_OPERATION_DONE;
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return completed;
}

void PulseContext::copyText(char* to, const char* from) noexcept
{
    if (!from) {
        to[0] = '\0';
        return;
    }
    size_t length = std::strlen(from);
    if (length >= size_t(TextBytes)) {
        // Cut before a UTF-8 continuation byte, never inside a character.
        length = TextBytes - 1;
        while (length > 0 && (static_cast<unsigned char>(from[length]) & 0xC0) == 0x80)
            --length;
    }
    std::memcpy(to, from, length);
    to[length] = '\0';
}

void PulseContext::addDevice(FoundList& list, const char* name, const char* description, int rate,
                             const char* monitorOf) noexcept
{
    // A name that does not fit could not be opened again; the server never
    // makes one that long.
    if (!name || std::strlen(name) >= size_t(TextBytes) || list.count >= MaxDevices)
        return;
    FoundDevice& device = list.devices[list.count++];
    copyText(device.name, name);
    copyText(device.description, description && *description ? description : name);
    copyText(device.monitorOf, monitorOf);
    device.rate = rate;
}

void PulseContext::serverInfoCallback(pa_context*, const pa_server_info* info, void* self)
{
    auto* pulse = static_cast<PulseContext*>(self);
    copyText(pulse->m_sinks.defaultName, info ? info->default_sink_name : nullptr);
    copyText(pulse->m_sources.defaultName, info ? info->default_source_name : nullptr);
    copyText(pulse->m_foundServerName, info ? info->server_name : nullptr);
}

void PulseContext::sinkCallback(pa_context*, const pa_sink_info* info, int eol, void* self)
{
    if (eol == 0 && info)
        addDevice(static_cast<PulseContext*>(self)->m_sinks, info->name, info->description,
                  int(info->sample_spec.rate));
}

void PulseContext::sourceCallback(pa_context*, const pa_source_info* info, int eol, void* self)
{
    if (eol == 0 && info)
        addDevice(static_cast<PulseContext*>(self)->m_sources, info->name, info->description,
                  int(info->sample_spec.rate),
                  info->monitor_of_sink != PA_INVALID_INDEX && info->monitor_of_sink_name
                      ? info->monitor_of_sink_name
                      : nullptr);
}

std::vector<SoundDeviceInfo> PulseContext::ordered(const FoundList& list, const FoundList* sinks)
{
    auto info = [&](const FoundDevice& found) {
        SoundDeviceInfo device{found.name, found.description, {}, found.rate};
        if (found.monitorOf[0] != '\0') {
            device.monitorOf = found.monitorOf;
            for (int i = 0; sinks && i < sinks->count; ++i)
                if (std::strcmp(sinks->devices[i].name, found.monitorOf) == 0)
                    device.monitorOf = sinks->devices[i].description;
        }
        return device;
    };
    std::vector<SoundDeviceInfo> devices;
    for (int i = 0; i < list.count; ++i)
        if (std::strcmp(list.devices[i].name, list.defaultName) == 0)
            devices.push_back(info(list.devices[i]));
    // Microphones and line inputs before the monitors: the four menu
    // entries should offer real inputs first.
    for (bool monitors : {false, true})
        for (int i = 0; i < list.count; ++i) {
            const FoundDevice& found = list.devices[i];
            if (std::strcmp(found.name, list.defaultName) != 0 && (found.monitorOf[0] != '\0') == monitors)
                devices.push_back(info(found));
        }
    return devices;
}

Status PulseContext::listDevices(std::vector<SoundDeviceInfo>& play, std::vector<SoundDeviceInfo>& record)
{
    if (!isReady())
        return Error{NotConnected};
    pa_operation* serverInfo;
    pa_operation* sinks;
    pa_operation* sources;
    {
        Lock lock(*this);
        m_sinks.count = 0;
        m_sources.count = 0;
        m_sinks.defaultName[0] = '\0';
        m_sources.defaultName[0] = '\0';
        // Replies come in the order asked, so the defaults are known before
        // the lists are ordered.
        serverInfo = pa_context_get_server_info(m_context, &PulseContext::serverInfoCallback, this);
        sinks = pa_context_get_sink_info_list(m_context, &PulseContext::sinkCallback, this);
        sources = pa_context_get_source_info_list(m_context, &PulseContext::sourceCallback, this);
    }
    // One time limit for the three answers.
    const Clock::time_point end = deadline();
    const bool ok = finish(serverInfo, end) & finish(sinks, end) & finish(sources, end);
    if (!ok) {
        Lock lock(*this);
        return Error{isDead() ? errorText() : std::string("The sound server did not list its devices")};
    }
    Lock lock(*this);
    m_serverName = m_foundServerName;
    play = ordered(m_sinks);
    record = ordered(m_sources, &m_sinks);
    return {};
}

void PulseContext::rateCallback(int eol, const pa_sample_spec* format, void* self) noexcept
{
    if (eol == 0 && format && pa_sample_spec_valid(format))
        static_cast<PulseContext*>(self)->m_askedRate = int(format->rate);
}

void PulseContext::sinkRateCallback(pa_context*, const pa_sink_info* info, int eol, void* self)
{
    rateCallback(eol, info ? &info->sample_spec : nullptr, self);
}

void PulseContext::sourceRateCallback(pa_context*, const pa_source_info* info, int eol, void* self)
{
    rateCallback(eol, info ? &info->sample_spec : nullptr, self);
}

int PulseContext::deviceRate(bool sink, const std::string& device)
{
    if (!isReady())
        return 0;
    pa_operation* operation;
    {
        Lock lock(*this);
        m_askedRate = 0;
        operation = sink ? pa_context_get_sink_info_by_name(m_context, device.c_str(),
                                                            &PulseContext::sinkRateCallback, this)
                         : pa_context_get_source_info_by_name(m_context, device.c_str(),
                                                              &PulseContext::sourceRateCallback, this);
    }
    if (!finish(operation, deadline()))
        return 0;
    Lock lock(*this);
    return m_askedRate;
}

} // namespace audimera
