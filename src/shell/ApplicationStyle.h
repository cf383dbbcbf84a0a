#pragma once

#include <QProxyStyle>

namespace lumora {

// Qt's Fusion style, drawn from the application's palette (which follows
// the theme), with calmer menus: a hairline frame in the palette's mid
// colour, taller rows with room at the sides, a rounded selection and
// separators that stop short of the edges; long menus scroll. A checkbox's
// frame shows as clearly on a dark window as on a light one.
class ApplicationStyle : public QProxyStyle {
    Q_OBJECT

public:
    ApplicationStyle();

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    // A menu taller than the screen scrolls instead of opening in columns;
    // mnemonics are always underlined.
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};

} // namespace lumora
