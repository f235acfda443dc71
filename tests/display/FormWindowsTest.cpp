// The waveform and FFT windows under the offscreen platform: first state,
// close only hiding, placement, redraw on resize, what is painted, and no
// drawing while the FFT picture has no height.
#include "display/windows/FormFFT.h"
#include "display/windows/FormInputWave.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace audimera {

namespace {

const double Pi = std::acos(-1.0);

int column(const DrawingSurface& picture, float x)
{
    return static_cast<int>(std::floor(picture.toPixelX(x)));
}

QImage shownImage(QWidget& window)
{
    return window.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Both windows refuse a user's close: hidden, the main window told once,
// shown again where it was; at shut-down they close for real.
template <typename Form>
void checkCloseOnlyHides(Form& form)
{
    int closedSignals = 0;
    QObject::connect(&form, &Form::closedByUser, [&] { ++closedSignals; });
    form.show();
    form.move(40, 30);
    ASSERT_TRUE(form.isVisible());
    const QPoint where = form.pos();

    EXPECT_FALSE(form.close());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(closedSignals, 1);

    form.show();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.pos(), where);

    form.setClosingAllowed(true);
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(closedSignals, 1);
}

template <typename Form>
void checkPlacedOnScreen(Form& form)
{
    const QRect screen = form.screen()->geometry();
    form.move(screen.right() - 100, screen.bottom() - 50);
    form.placeOnScreen();
    EXPECT_LE(form.frameGeometry().right(), screen.right());
    EXPECT_LE(form.frameGeometry().bottom(), screen.bottom());
    form.move(10, 20); // already on screen: left alone
    form.placeOnScreen();
    EXPECT_EQ(form.pos(), QPoint(10, 20));
}

std::vector<int16_t> sineBlock(double amplitude, int k0)
{
    std::vector<int16_t> x(30001, 0);
    for (int n = 0; n < AudioFFT::Size; ++n)
        x[n] = static_cast<int16_t>(
            std::lround(amplitude * std::sin(2 * Pi * k0 * n / AudioFFT::Size)));
    return x;
}

} // namespace

TEST(FormFFTTest, StartsHiddenWithTheEmptyGrid)
{
    FormFFT form;
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Fast Fourier Transform FFT"));
    EXPECT_EQ(form.size(), QSize(FormFFT::InitialWidth, FormFFT::InitialHeight));
    EXPECT_EQ(form.FFTPeak(), 100);
    EXPECT_EQ(form.picture().Height(), FormFFT::InitialHeight);
    EXPECT_EQ(form.picture().pixelColor(column(form.picture(), FftPlot::xOfFrequency(1000)), 10),
              FftPlot::GridColor);
}

TEST(FormFFTTest, CloseOnlyHidesAndPlacementKeepsItOnScreen)
{
    FormFFT form;
    checkPlacedOnScreen(form);
    checkCloseOnlyHides(form);
}

TEST(FormFFTTest, PaintsTheSpectrumAndRedrawsTheGridOnResize)
{
    FormFFT form;
    form.InitFFTTables();
    std::vector<int16_t> in = sineBlock(30000, 1000);
    std::vector<float> out(in.size(), 0.0f);
    form.TraceFFT(in.data(), out.data(), false);

    const QImage shown = shownImage(form);
    ASSERT_EQ(shown.size(), form.size());
    EXPECT_EQ(shown, form.picture().image().convertToFormat(QImage::Format_RGB32));
    const int peak = column(form.picture(), FftPlot::xOfBin(1000));
    EXPECT_EQ(shown.pixel(peak, 0), qRgb(255, 200, 0));

    form.show();
    form.resize(500, 300);
    QApplication::processEvents();
    EXPECT_EQ(form.picture().Width(), 500);
    EXPECT_EQ(form.picture().Height(), 300);
    const DrawingSurface& picture = form.picture();
    EXPECT_FLOAT_EQ(picture.ScaleHeight(), static_cast<float>(form.FFTPeak() * (1 + 14.0 / 300)));
    EXPECT_EQ(picture.pixelColor(column(picture, FftPlot::xOfFrequency(1000)), 10),
              FftPlot::GridColor);
}

TEST(FormFFTTest, NoDrawingWhileThePictureHasNoHeight)
{
    FormFFT form;
    form.show();
    form.resize(400, 0);
    QApplication::processEvents();
    if (form.height() != 0)
        GTEST_SKIP() << "the platform keeps a height of " << form.height();
    EXPECT_EQ(form.picture().Height(), 0);
    const float scaleBefore = form.picture().ScaleHeight();

    std::vector<int16_t> in = sineBlock(20000, 300);
    std::vector<float> out(in.size(), 0.0f);
    form.TraceFFT(in.data(), out.data(), true);
    EXPECT_NEAR(form.FFTPeak(), std::sqrt(20000.0 * 8192), 100);
    EXPECT_EQ(form.picture().ScaleHeight(), scaleBefore);
    form.repaint(); // painting an empty picture is harmless

    form.resize(400, 200);
    QApplication::processEvents();
    EXPECT_FLOAT_EQ(form.picture().ScaleHeight(),
                    static_cast<float>(form.FFTPeak() * (1 + 14.0 / 200)));
}

TEST(FormInputWaveTest, StartsHiddenWithTheCentreLineAlone)
{
    FormInputWave form;
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Input Wave Form"));
    EXPECT_EQ(form.size(), QSize(256, 88));
    EXPECT_EQ(form.plot().WaveFirst(), -1);
    EXPECT_EQ(form.plot().WaveWidth(), 100);
    EXPECT_EQ(form.plot().WaveHeight(), 100);
    const QImage shown = shownImage(form);
    EXPECT_EQ(shown.pixel(100, 44), qRgb(128, 128, 128));
    EXPECT_EQ(shown.pixel(100, 20), qRgb(0, 0, 0));
}

TEST(FormInputWaveTest, CloseOnlyHidesAndPlacementKeepsItOnScreen)
{
    FormInputWave form;
    checkPlacedOnScreen(form);
    checkCloseOnlyHides(form);
}

TEST(FormInputWaveTest, PaintsTheBlockAndStretchesItOnResize)
{
    FormInputWave form;
    double frequency = 1000;
    form.setFrequencySource([&] { return frequency; });
    std::vector<int16_t> rec(30001, 0);
    // A full-height step half way: 1000 for the second half of 4 samples.
    rec[502] = rec[503] = rec[504] = 1000;
    form.DrawCurve(4, 1000, rec.data(), 500, false, 0);

    QImage shown = shownImage(form);
    EXPECT_EQ(shown, form.picture().image().convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(shown.pixel(100, 44), qRgb(0, 255, 0)); // held at 0 over the first half
    EXPECT_EQ(shown.pixel(128, 20), qRgb(0, 255, 0)); // the rise at x = 2
    EXPECT_EQ(shown.pixel(200, 4), qRgb(0, 255, 0));  // 1000 at y = 100 of 2200

    form.show();
    form.resize(512, 176);
    QApplication::processEvents();
    EXPECT_EQ(form.picture().ScaleWidth(), 4.0f); // the scale stays
    shown = shownImage(form);
    EXPECT_EQ(shown.pixel(256, 40), qRgb(0, 255, 0));
    EXPECT_EQ(shown.pixel(400, 8), qRgb(0, 255, 0));

    form.DrawCurve(4, 1000, rec.data(), 500, true, 0);
    EXPECT_EQ(shownImage(form).pixel(400, 8), qRgb(255, 0, 0));
}

} // namespace audimera
