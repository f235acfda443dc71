#include "PulseContext.h"

#include <cstring>
#include <utility>

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
        return "Not connected to the sound server";
    return pa_strerror(pa_context_errno(m_context));
}

void PulseContext::stateCallback(pa_context* context, void* self)
{
    static_cast<PulseContext*>(self)->m_state.store(pa_context_get_state(context), std::memory_order_release);
}

std::string PulseContext::connect()
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
            return "Cannot create the sound server's thread";
        if (pa_threaded_mainloop_start(m_mainloop) < 0) {
            pa_threaded_mainloop_free(m_mainloop);
            m_mainloop = nullptr;
            return "Cannot start the sound server's thread";
        }
    }

    {
        Lock lock(*this);
        m_state.store(PA_CONTEXT_UNCONNECTED);
        m_context = pa_context_new(pa_threaded_mainloop_get_api(m_mainloop), "Audimera");
        if (!m_context)
            return "Cannot create a sound server connection";
        pa_context_set_state_callback(m_context, &PulseContext::stateCallback, this);
        // A measurement program has no business starting a server itself.
        if (pa_context_connect(m_context, m_server.empty() ? nullptr : m_server.c_str(), PA_CONTEXT_NOAUTOSPAWN,
                               nullptr)
            < 0) {
            std::string reason = errorText();
            dropContext();
            return reason;
        }
    }

    const bool ready = waitUntil([this] { return m_state.load() == PA_CONTEXT_READY; });
    Lock lock(*this);
    if (ready)
        return {};
    std::string reason = isDead() ? errorText() : std::string(pa_strerror(PA_ERR_TIMEOUT));
    dropContext();
    return reason;
}

void PulseContext::dropContext()
{
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
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

bool PulseContext::finish(pa_operation* operation, int timeoutMs)
{
    if (!operation)
        return false;
    const bool done = waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; },
                                timeoutMs);
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

void PulseContext::addDevice(FoundList& list, const char* name, const char* description) noexcept
{
    // A name that does not fit could not be opened again; the server never
    // makes one that long.
    if (!name || std::strlen(name) >= size_t(TextBytes) || list.count >= MaxDevices)
        return;
    FoundDevice& device = list.devices[list.count++];
    copyText(device.name, name);
    copyText(device.description, description && *description ? description : name);
}

void PulseContext::serverInfoCallback(pa_context*, const pa_server_info* info, void* self)
{
    auto* pulse = static_cast<PulseContext*>(self);
    copyText(pulse->m_sinks.defaultName, info ? info->default_sink_name : nullptr);
    copyText(pulse->m_sources.defaultName, info ? info->default_source_name : nullptr);
}

void PulseContext::sinkCallback(pa_context*, const pa_sink_info* info, int eol, void* self)
{
    if (eol == 0 && info)
        addDevice(static_cast<PulseContext*>(self)->m_sinks, info->name, info->description);
}

void PulseContext::sourceCallback(pa_context*, const pa_source_info* info, int eol, void* self)
{
    if (eol == 0 && info)
        addDevice(static_cast<PulseContext*>(self)->m_sources, info->name, info->description);
}

std::vector<SoundDeviceInfo> PulseContext::ordered(const FoundList& list)
{
    std::vector<SoundDeviceInfo> devices;
    for (int i = 0; i < list.count; ++i)
        if (std::strcmp(list.devices[i].name, list.defaultName) == 0)
            devices.push_back({list.devices[i].name, list.devices[i].description});
    for (int i = 0; i < list.count; ++i)
        if (std::strcmp(list.devices[i].name, list.defaultName) != 0)
            devices.push_back({list.devices[i].name, list.devices[i].description});
    return devices;
}

std::string PulseContext::listDevices(std::vector<SoundDeviceInfo>& play, std::vector<SoundDeviceInfo>& record)
{
    if (!isReady())
        return "Not connected to the sound server";
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
    const bool ok = finish(serverInfo) & finish(sinks) & finish(sources);
    if (!ok) {
        Lock lock(*this);
        return isDead() ? errorText() : std::string("The sound server did not list its devices");
    }
    Lock lock(*this);
    play = ordered(m_sinks);
    record = ordered(m_sources);
    return {};
}
