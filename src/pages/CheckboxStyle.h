#pragma once

#include <QProxyStyle>

// The pages' checkboxes: a box in the pages' grey that shows in both states, white when
// unticked, filled with a white tick when ticked, paler when disabled. Everything else is the
// application's style.
class CheckboxStyle final : public QProxyStyle
{
public:
    // The indicator's side, in device-independent pixels.
    static constexpr int boxSize = 12;

    void drawPrimitive(PrimitiveElement element,
                       const QStyleOption *option,
                       QPainter *painter,
                       const QWidget *widget = nullptr) const override;
    int pixelMetric(PixelMetric metric,
                    const QStyleOption *option = nullptr,
                    const QWidget *widget = nullptr) const override;
};
