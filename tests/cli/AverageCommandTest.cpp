// audimera-measure average and align on impulse responses written here: a
// decaying tone burst and the same 48 samples (1 ms) later.
#include "curves/ImpulseFile.h"
#include "tests/cli/CommandRun.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>

namespace audimera {

namespace {

std::vector<float> burst(std::size_t at, float gain = 1)
{
    std::vector<float> x(4096);
    for (std::size_t i = 0; i < 200; ++i)
        x[at + i] = gain * float(std::exp(-double(i) / 20) * std::cos(0.3 * double(i)));
    return x;
}

TEST(AverageCommandTest, AveragesAlignedAndPrintsTheDelays)
{
    TestFolder folder;
    const std::string a = folder.file("a.wav"), b = folder.file("b.wav"), out = folder.file("avg.wav");
    ASSERT_TRUE(ImpulseFile::writeWav(a, burst(100), 48000).ok() && ImpulseFile::writeWav(b, burst(148), 48000).ok());
    const Outcome averaged = measure({"average", a, b, "--mode", "vector", "--align", "--out", out});
    ASSERT_EQ(averaged.code, MeasureCommand::Measured) << averaged.err;
    EXPECT_NE(averaged.out.find("Averaged 2 impulse responses (vector, aligned"), std::string::npos) << averaged.out;
    const Result<ImpulseFile::Impulse> written = ImpulseFile::read(out);
    EXPECT_NEAR(written.ok() ? written->samples[100] : 0, 1.0f, 1e-4f); // lined up on the first, not combed

    const Outcome aligned = measure({"align", a, b, "--band", "100-10000"});
    std::cout << aligned.out;
    ASSERT_EQ(aligned.code, MeasureCommand::Measured) << aligned.err;
    EXPECT_NE(aligned.out.find("b.wav,48.000,1.0000,0.3432,"), std::string::npos) << aligned.out;
}

TEST(AverageCommandTest, RefusesBadUsageAndUnreadableFiles)
{
    TestFolder folder;
    const std::string a = folder.file("a.wav"), slow = folder.file("44k.wav"), out = folder.file("o.wav");
    ASSERT_TRUE(ImpulseFile::writeWav(a, burst(0), 48000).ok() && ImpulseFile::writeWav(slow, burst(0), 44100).ok());
    using Case = std::pair<std::vector<std::string>, int>; // the arguments, the exit code
    for (const auto& [args, code] : {Case{{"average", a, a, "--mode", "mean", "--out", out}, 2},
                          {{"average", a, a, "--mode", "db", "--align", "--out", out}, 2},
                          {{"average", a, a, "--mode", "rms"}, 2},
                          {{"average", a, "--mode", "rms", "--out", out}, 2},
                          {{"average", a, slow, "--mode", "rms", "--out", out}, 2},
                          {{"average", a, a, "--mode", "rms", "--out", a}, 2},
                          {{"align", a, a, "--band", "500-100"}, 2},
                          {{"align", a, folder.file("none.wav")}, 5}})
        EXPECT_EQ(measure(args).code, code) << args[1] << ' ' << args.back();
}

} // namespace

} // namespace audimera
