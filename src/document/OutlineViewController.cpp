#include "document/OutlineViewController.h"

#include "platform/Localization.h"
#include "settings/Settings.h"
#include "settings/ViewUtilities.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace lumora {

OutlineViewController::OutlineViewController(QWidget* parent) : QWidget(parent)
{
    setMinimumWidth(160);
    m_title = views::label(localized("outline.title"));
    m_title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(edgeInsets(18, 18, 18, 14));
    layout->addWidget(m_title);
    layout->addStretch(1);
    applyTheme();
}

void OutlineViewController::updateTitleLabelPosition() {}

void OutlineViewController::reloadOutline() {}

void OutlineViewController::applyTheme()
{
    const Theme& theme = *Settings::shared().theme;
    const QColor background = theme.backgroundColor.toQColor(), foreground = theme.foregroundColor.toQColor();
    QPalette p = palette();
    // A shade apart from the page, towards the text colour.
    p.setColor(QPalette::Window, views::blend(background, foreground, 0.035));
    QColor text = foreground;
    text.setAlphaF(0.45f);
    p.setColor(QPalette::WindowText, text);
    setPalette(p);
    m_title->setPalette(p);
    update();
}

QSize OutlineViewController::sizeHint() const { return {220, 400}; }

void OutlineViewController::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
}

} // namespace lumora
