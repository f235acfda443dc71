// The impulse response's WAV file: the header a reader needs (mono, 32-bit
// float, the rate), the samples as given, and the program's save rules;
// reading one channel of any sound file back, and what is refused.
#include "curves/CurveFile.h"
#include "curves/ImpulseFile.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

#include <sndfile.h>
#include <sys/stat.h>

namespace audimera {

namespace {

template <typename T>
T field(const std::string& bytes, std::size_t at)
{
    T value{};
    std::memcpy(&value, bytes.data() + at, sizeof value); // little-endian on the machines we run on
    return value;
}

} // namespace

TEST(ImpulseFileTest, WavIsMonoFloatAtTheRateWithTheSamplesAsGiven)
{
    const std::vector<float> samples = {0.0f, 1.0f, -0.5f, 0.25f, 1e-6f};
    const audimera::Result<std::string> bytes = ImpulseFile::wavBytes(samples, 48000);
    ASSERT_TRUE(bytes) << bytes.message();
    const std::string& b = *bytes;
    ASSERT_GE(b.size(), 44u);
    EXPECT_EQ(b.substr(0, 4), "RIFF");
    EXPECT_EQ(field<uint32_t>(b, 4), b.size() - 8);
    EXPECT_EQ(b.substr(8, 4), "WAVE");
    // The format chunk: IEEE float (3), or the extensible form (0xfffe).
    const std::size_t fmt = b.find("fmt ");
    ASSERT_NE(fmt, std::string::npos);
    const auto format = field<uint16_t>(b, fmt + 8);
    EXPECT_TRUE(format == 3 || format == 0xfffe) << format;
    EXPECT_EQ(field<uint16_t>(b, fmt + 10), 1);      // channels
    EXPECT_EQ(field<uint32_t>(b, fmt + 12), 48000u); // rate
    EXPECT_EQ(field<uint16_t>(b, fmt + 22), 32);     // bits per sample
    const std::size_t data = b.rfind("data");
    ASSERT_NE(data, std::string::npos);
    ASSERT_EQ(field<uint32_t>(b, data + 4), samples.size() * sizeof(float));
    for (std::size_t i = 0; i < samples.size(); ++i)
        EXPECT_EQ(field<float>(b, data + 8 + 4 * i), samples[i]) << i;
}

TEST(ImpulseFileTest, WritingFollowsTheSaveRules)
{
    TestFolder folder;
    const std::string path = folder.file("ir.wav");
    ASSERT_TRUE(ImpulseFile::writeWav(path, {0.5f, -0.5f}, 44100));
    EXPECT_EQ(slurp(path), *ImpulseFile::wavBytes({0.5f, -0.5f}, 44100));

    // A read-only file is refused and kept as it was.
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    const std::string before = slurp(path);
    const audimera::Status refused = ImpulseFile::writeWav(path, {1.0f}, 44100);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.message(), CurveFile::ReadOnlyError);
    EXPECT_EQ(slurp(path), before);

    // A rate libsndfile refuses is an error, and nothing is written.
    EXPECT_FALSE(ImpulseFile::writeWav(folder.file("bad.wav"), {1.0f}, 0));
    struct stat st {};
    EXPECT_NE(stat(folder.file("bad.wav").c_str(), &st), 0);
}

TEST(ImpulseFileTest, ReadsOneChannelOfASoundFileAndRefusesWhatIsNone)
{
    TestFolder folder;
    const std::vector<float> mono = {0.0f, 1.0f, -0.5f, 0.25f};
    ASSERT_TRUE(ImpulseFile::writeWav(folder.file("mono.wav"), mono, 96000));
    // Two channels of 16-bit FLAC, the second the first halved.
    const std::string flac = folder.file("stereo.flac");
    {
        SF_INFO info{0, 44100, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 0, 0};
        SNDFILE* f = sf_open(flac.c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        const float frames[] = {0.5f, 0.25f, -0.5f, -0.25f};
        sf_writef_float(f, frames, 2);
        sf_close(f);
    }
    spit(folder.file("empty.wav"), *ImpulseFile::wavBytes({}, 48000));
    spit(folder.file("text.wav"), "20 0\n30 0\n");
    struct Case {
        std::string path;
        int channel;
        std::vector<float> samples; // empty: refused, with error in the message
        int rate;
        std::string error;
    };
    for (const Case& c : {Case{folder.file("mono.wav"), 0, mono, 96000, ""},
                          Case{flac, 1, {0.25f, -0.25f}, 44100, ""},
                          Case{flac, 2, {}, 0, "the file has no channel 3 (it has 2)"},
                          Case{folder.file("empty.wav"), 0, {}, 0, "the file holds no samples"},
                          Case{folder.file("text.wav"), 0, {}, 0, "not a sound file"},
                          Case{folder.path(), 0, {}, 0, std::strerror(EISDIR)}}) {
        const audimera::Result<ImpulseFile::Impulse> read = ImpulseFile::read(c.path, c.channel);
        if (c.samples.empty()) {
            ASSERT_FALSE(read) << c.path;
            EXPECT_EQ(read.kind(), Failure::File);
            EXPECT_NE(read.message().find(c.error), std::string::npos) << read.message();
            continue;
        }
        ASSERT_TRUE(read) << c.path << ": " << read.message();
        EXPECT_EQ(read->samples, c.samples) << c.path;
        EXPECT_EQ(read->rate, c.rate);
    }
}

} // namespace audimera
