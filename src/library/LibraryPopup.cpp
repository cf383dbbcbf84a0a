#include "library/LibraryPopup.h"

#include "library/Library.h"
#include "library/LibraryIcons.h"
#include "platform/files/Bookmark.h"
#include "settings/URLExtensions.h"

#include <QPainter>

namespace lumora {

namespace {

// What comes before the name of a library kept for this run only.
QString unlinkedMark(const Library& library)
{
    return library.isLinked() ? QString() : QStringLiteral("- ");
}

QString popupTitle(const Library& library)
{
    return unlinkedMark(library) + LibraryPopup::libraryName(library) + library.displayName.parents;
}

} // namespace

LibraryPopup::LibraryPopup(QWidget* parent) : QComboBox(parent)
{
    setFrame(false);
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    setFocusPolicy(Qt::NoFocus);
    setMinimumContentsLength(4);
    QFont small = font();
    small.setPointSizeF(font().pointSizeF() - 0.5);
    small.setWeight(QFont::DemiBold);
    setFont(small);
}

QString LibraryPopup::libraryName(const Library& library)
{
    if (!library.displayName.name.isEmpty() || !library.bookmarkData()) return library.displayName.name;
    const auto bookmark = Bookmark::fromData(*library.bookmarkData());
    return bookmark ? url::localizedName(bookmark->path()) : QString();
}

void LibraryPopup::setItem(int index, const std::shared_ptr<Library>& library)
{
    setItemText(index, popupTitle(*library));
    m_libraries[size_t(index)] = library;
}

void LibraryPopup::insertLibrary(int index, const std::shared_ptr<Library>& library)
{
    insertItem(index, popupTitle(*library));
    m_libraries.insert(m_libraries.begin() + index, library);
}

void LibraryPopup::removeLibrary(int index)
{
    removeItem(index);
    m_libraries.erase(m_libraries.begin() + index);
}

void LibraryPopup::clearLibraries()
{
    clear();
    m_libraries.clear();
}

std::shared_ptr<Library> LibraryPopup::libraryAt(int index) const
{
    return index >= 0 && index < int(m_libraries.size()) ? m_libraries[size_t(index)].lock() : nullptr;
}

QSize LibraryPopup::sizeHint() const
{
    const QSize hint = QComboBox::sizeHint();
    return QSize(hint.width() + 6, hint.height());
}

QSize LibraryPopup::minimumSizeHint() const { return QSize(60, QComboBox::minimumSizeHint().height()); }

void LibraryPopup::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect area = rect().adjusted(2, 0, -2, 0);
    if (underMouse() && isEnabled()) {
        QColor hover = text;
        hover.setAlphaF(0.08f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(hover);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 1.5, -0.5, -1.5), 4, 4);
    }
    const std::shared_ptr<Library> library = libraryAt(currentIndex());
    const QFontMetrics metrics(font());
    // Room for the chevron at the right.
    const int chevron = 14;
    QRect textArea = area.adjusted(4, 0, -chevron, 0);
    if (library) {
        const QString name = unlinkedMark(*library) + libraryName(*library);
        const QString rest = library->displayName.parents;
        painter.setFont(font());
        painter.setPen(text);
        const QString shownName = metrics.elidedText(name, Qt::ElideRight, textArea.width());
        painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter, shownName);
        const int used = metrics.horizontalAdvance(shownName);
        if (shownName == name && !rest.isEmpty() && used < textArea.width()) {
            QRect restArea = textArea.adjusted(used, 0, 0, 0);
            painter.setPen(secondary);
            painter.drawText(restArea, Qt::AlignLeft | Qt::AlignVCenter,
                             metrics.elidedText(rest, Qt::ElideRight, restArea.width()));
        }
    }
    const QIcon icon = libraryIcons::chevron(isEnabled() ? secondary : secondary.lighter());
    icon.paint(&painter, QRect(area.right() - chevron + 2, area.center().y() - 5, 10, 10));
}

void LibraryPopup::enterEvent(QEnterEvent* event)
{
    QComboBox::enterEvent(event);
    update();
}

void LibraryPopup::leaveEvent(QEvent* event)
{
    QComboBox::leaveEvent(event);
    update();
}

} // namespace lumora
