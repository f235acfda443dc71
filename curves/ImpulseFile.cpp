#include "curves/ImpulseFile.h"

#include <cmath>

#include "curves/CurveFile.h"
#include "curves/FieldReader.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace audimera {

namespace ImpulseFile {

namespace {

// A growing byte buffer that libsndfile writes through its virtual I/O, so
// the file's bytes can go through the one save path of the program.
struct Buffer {
    std::string bytes;
    sf_count_t position = 0;
};

sf_count_t length(void* data)
{
    return static_cast<sf_count_t>(static_cast<Buffer*>(data)->bytes.size());
}

sf_count_t seek(sf_count_t offset, int whence, void* data)
{
    auto* b = static_cast<Buffer*>(data);
    const sf_count_t base = whence == SEEK_CUR ? b->position
        : whence == SEEK_END                   ? static_cast<sf_count_t>(b->bytes.size())
                                               : 0;
    b->position = std::max<sf_count_t>(0, base + offset);
    return b->position;
}

sf_count_t read(void* out, sf_count_t count, void* data)
{
    auto* b = static_cast<Buffer*>(data);
    const sf_count_t size = static_cast<sf_count_t>(b->bytes.size());
    const sf_count_t n = std::clamp<sf_count_t>(size - b->position, 0, count);
    std::memcpy(out, b->bytes.data() + b->position, static_cast<size_t>(n));
    b->position += n;
    return n;
}

sf_count_t write(const void* in, sf_count_t count, void* data)
{
    auto* b = static_cast<Buffer*>(data);
    const auto end = static_cast<size_t>(b->position + count);
    if (b->bytes.size() < end)
        b->bytes.resize(end);
    std::memcpy(b->bytes.data() + b->position, in, static_cast<size_t>(count));
    b->position += count;
    return count;
}

sf_count_t tell(void* data)
{
    return static_cast<Buffer*>(data)->position;
}

} // namespace

audimera::Result<std::string> wavBytes(const std::vector<float>& samples, int rate)
{
    for (float sample : samples)
        if (!std::isfinite(sample))
            return audimera::Error{"a sample of the impulse response is not a finite number; nothing was written"};
    SF_VIRTUAL_IO io{length, seek, read, write, tell};
    Buffer buffer;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &buffer);
    if (!file)
        return audimera::Error{sf_strerror(nullptr)};
    // No PEAK chunk: it carries the time of writing, so the same samples
    // would not give the same bytes a second later.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    const sf_count_t written = sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    const std::string failure = written == static_cast<sf_count_t>(samples.size()) ? "" : sf_strerror(file);
    if (sf_close(file) != 0 || !failure.empty())
        return audimera::Error{failure.empty() ? "the file could not be written" : failure};
    return std::move(buffer.bytes);
}

audimera::Status writeWav(const std::string& path, const std::vector<float>& samples, int rate)
{
    const audimera::Result<std::string> bytes = wavBytes(samples, rate);
    if (!bytes)
        return bytes.error();
    return CurveFile::writeText(path, *bytes);
}

namespace {

// The samples of channel of an opened sound file, under read()'s rules.
audimera::Result<Impulse> readOpened(SNDFILE* opened, const SF_INFO& info, int channel)
{
    const auto fail = [](std::string why) { return audimera::Error::of(Failure::File, std::move(why)); };
    const std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(opened, sf_close);
    if (!file)
        return fail(std::string("not a sound file that can be read (") + sf_strerror(nullptr) + ")");
    if (info.frames <= 0)
        return fail("the file holds no samples");
    if (info.frames > MaxFrames)
        return fail("the file is too long for an impulse response (more than " + std::to_string(MaxFrames)
                    + " samples)");
    if (info.samplerate <= 0 || info.channels <= 0)
        return fail("the file states no rate or no channel");
    if (channel < 0 || channel >= info.channels)
        return fail("the file has no channel " + std::to_string(channel + 1) + " (it has "
                    + std::to_string(info.channels) + ")");
    // Read in blocks, so that a many-channel file needs no whole interleaved copy.
    Impulse impulse;
    impulse.rate = info.samplerate;
    impulse.channels = info.channels;
    impulse.samples.reserve(static_cast<std::size_t>(info.frames));
    constexpr sf_count_t Block = 4096;
    std::vector<float> block(static_cast<std::size_t>(Block * info.channels));
    for (;;) {
        const sf_count_t got = sf_readf_float(file.get(), block.data(), Block);
        if (got <= 0)
            break;
        for (sf_count_t i = 0; i < got; ++i) {
            const float v = block[static_cast<std::size_t>(i * info.channels + channel)];
            if (!std::isfinite(v))
                return fail("the file holds a value that is not a number");
            impulse.samples.push_back(v);
        }
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR)
        return fail(std::string("the file cannot be read whole (") + sf_strerror(file.get()) + ")");
    if (impulse.samples.empty())
        return fail("the file holds no samples");
    return impulse;
}

// Reading from memory: libsndfile never writes through these.
sf_count_t refuseWrite(const void*, sf_count_t, void*)
{
    return 0;
}

} // namespace

audimera::Result<Impulse> read(const std::string& path, int channel)
{
    const audimera::Result<int> fd = FieldReader::openRegular(path);
    if (!fd)
        return fd.error();
    SF_INFO info{};
    // libsndfile closes the descriptor with the file.
    SNDFILE* file = sf_open_fd(*fd, SFM_READ, &info, SF_TRUE);
    return readOpened(file, info, channel);
}

audimera::Result<Impulse> fromBytes(std::string bytes, int channel)
{
    SF_VIRTUAL_IO io{length, seek, read, refuseWrite, tell};
    Buffer buffer{std::move(bytes), 0};
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &buffer);
    return readOpened(file, info, channel);
}

} // namespace ImpulseFile

} // namespace audimera
