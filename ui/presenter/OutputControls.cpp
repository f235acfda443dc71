// The level and balance bars of the generator frame.
#include "ui/presenter/MainPresenter.h"

#include "signal/OutputLevel.h"
#include "ui/presenter/ControlNames.h"

namespace audimera {

void MainPresenter::ApplyVolume()
{
    const int level = OutputLevel::volumeLevel(m_panel.value(names::HScrollVolume));
    m_panel.setCaption(names::LabelVol, OutputLevel::dBText(level));
    m_sound.SetPlayVolume(level);
    m_host.yield();
}

void MainPresenter::ApplyPan(int& Value)
{
    const OutputLevel::PanLabels marks = OutputLevel::panLabels(Value);
    m_panel.setForeColor(names::LabelLeft, marks.leftMark);
    m_panel.setForeColor(names::LabelCenter, marks.centerMark);
    m_panel.setForeColor(names::LabelRight, marks.rightMark);
    const int q = m_panel.value(names::HScrollPan);
    const OutputLevel::PanLabels labels = OutputLevel::panLabels(q);
    m_sound.SetPlayPan(OutputLevel::devicePan(q));
    m_panel.setCaption(names::LabelVolRight, labels.right);
    m_panel.setCaption(names::LabelVolLeft, labels.left);
    m_host.yield();
}

void MainPresenter::HScrollPan_Change()
{
    int value = m_panel.value(names::HScrollPan);
    ApplyPan(value);
}

} // namespace audimera
