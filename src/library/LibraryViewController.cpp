#include "library/LibraryViewController.h"

#include "platform/foundation/Localization.h"
#include "settings/Settings.h"
#include "settings/ViewUtilities.h"

#include <QDir>
#include <QFileInfo>

namespace lumora {

LibraryViewController::LibraryViewController(QWidget* parent) : QWidget(parent)
{
    m_title = views::sidePaneTitle(this, QString());
    setFolder(QString());
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
    views::applySidePaneColors(this, theme.backgroundColor.toQColor(), theme.foregroundColor.toQColor(),
                               m_folder.isEmpty() ? 0.45 : 0.8);
}

QSize LibraryViewController::sizeHint() const { return {240, 400}; }

} // namespace lumora
