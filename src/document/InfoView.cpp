#include "document/InfoView.h"

#include "document/DocumentData.h"
#include "widgets/ViewUtilities.h"

#include <QEvent>
#include <QPainter>

namespace lumora {

namespace {

// The window text at a lower strength: secondary text, and the hairline
// between panes.
QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(color.alphaF() * alpha));
    return color;
}

} // namespace

InfoView::InfoView(QWidget* parent) : QWidget(parent)
{
    m_infoLabel = views::label(QString());
    views::centerHorizontally(m_infoLabel, this, edgeInsets(12, 16, 12, 16));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    applyColors();
}

void InfoView::updateInfo(const DocumentData& data, Range selection)
{
    showStatistics(data.documentStatistics(selection));
}

void InfoView::showStatistics(const QString& line)
{
    m_infoLabel->setText(line);
}

void InfoView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(QRect(0, 0, width(), 1), withAlpha(palette().color(QPalette::WindowText), 0.1));
}

void InfoView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) applyColors();
}

void InfoView::applyColors()
{
    QPalette labelPalette = m_infoLabel->palette();
    labelPalette.setColor(QPalette::WindowText, withAlpha(palette().color(QPalette::WindowText), 0.55));
    m_infoLabel->setPalette(labelPalette);
}

} // namespace lumora
