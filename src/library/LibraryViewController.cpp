#include "library/LibraryViewController.h"

#include "platform/Localization.h"
#include "settings/Settings.h"
#include "settings/ViewUtilities.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace lumora {

LibraryViewController::LibraryViewController(QWidget* parent) : QWidget(parent)
{
    setMinimumWidth(160);
    m_title = views::label(QString());
    m_title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(edgeInsets(18, 18, 18, 14));
    layout->addWidget(m_title);
    layout->addStretch(1);
    setFolder(QString());
    applyTheme();
}

void LibraryViewController::setFolder(const QString& path)
{
    m_folder = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    QFont font = this->font();
    if (m_folder.isEmpty()) {
        m_title->setText(localized("library.noFolder"));
        m_title->setToolTip(QString());
    } else {
        QString name = QFileInfo(m_folder).fileName();
        if (name.isEmpty()) name = QDir::toNativeSeparators(m_folder); // the root folder
        m_title->setText(name);
        m_title->setToolTip(QDir::toNativeSeparators(m_folder));
        font.setWeight(QFont::DemiBold);
    }
    m_title->setFont(font);
    applyTheme();
}

void LibraryViewController::applyTheme()
{
    const Theme& theme = *Settings::shared().theme;
    QPalette p = palette();
    const QColor foreground = theme.foregroundColor.toQColor();
    p.setColor(QPalette::Window, views::blend(theme.backgroundColor.toQColor(), foreground, 0.035));
    QColor text = foreground;
    text.setAlphaF(m_folder.isEmpty() ? 0.45f : 0.8f);
    p.setColor(QPalette::WindowText, text);
    setPalette(p);
    m_title->setPalette(p);
    update();
}

QSize LibraryViewController::sizeHint() const { return {240, 400}; }

void LibraryViewController::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
}

} // namespace lumora
