#include "tests/engine/EngineFixture.h"

namespace audimera {

namespace {

class CapturingDevice : public SilentSoundDevice {
public:
    void SetPlayVolume(int v) override { volume = v; }
    void SetPlayPan(int p) override { pan = p; }
    int volume = 1, pan = 1;
};

TEST(OutputControlsTest, BarsSetTheDeviceAndTheLabels)
{
    EngineRig<CapturingDevice> rig;
    rig.panel["HScrollVolume"].value = 0;
    rig.engine->HScrollVolume_Scroll();
    EXPECT_EQ(rig.device.volume, -10000);
    EXPECT_EQ(rig.panel["LabelVol"].caption, "-100.00 dB");
    EXPECT_EQ(rig.host.yields(), 1);

    rig.panel["HScrollPan"].value = -1000;
    rig.engine->HScrollPan_Change();
    EXPECT_EQ(rig.device.pan, -10000);
    EXPECT_EQ(rig.panel["LabelVolRight"].caption, "Mute");
    EXPECT_EQ(rig.panel["LabelVolLeft"].caption, "0.00 dB");
    EXPECT_EQ(rig.panel["LabelLeft"].foreColor, 16711680u);
    EXPECT_EQ(rig.panel["LabelCenter"].foreColor, 0u);

    rig.panel["HScrollPan"].value = 500;
    rig.engine->HScrollPan_Scroll();
    EXPECT_EQ(rig.device.pan, 602);
    EXPECT_EQ(rig.panel["LabelVolLeft"].caption, "-6.02 dB");
    EXPECT_EQ(rig.panel["LabelLeft"].foreColor, 0u);
}

} // namespace

} // namespace audimera
