#include "library/LibraryPaneHeader.h"

#include "library/LibraryIcons.h"
#include "library/LibraryPaneColors.h"
#include "library/LibraryPopup.h"
#include "library/SortButton.h"
#include "platform/foundation/Localization.h"
#include "widgets/ViewUtilities.h"

#include <QAction>
#include <QActionGroup>
#include <QLineEdit>
#include <QMenu>
#include <QVBoxLayout>

namespace lumora {

namespace {

constexpr int kHeaderSpacing = 6;
const QMargins kHeaderInsets = edgeInsets(6, 10, 6, 10);
const QString kSearchIconName = QStringLiteral("lumoraSearchIcon");

} // namespace

LibraryPaneHeader::LibraryPaneHeader(QWidget* parent) : QWidget(parent)
{
    m_popup = new LibraryPopup(nullptr);
    m_searchField = new QLineEdit;
    m_searchField->setPlaceholderText(localized("library.search"));
    m_searchField->setClearButtonEnabled(true);
    m_searchField->setAccessibleName(localized("library.search"));
    m_sortMenu = new QMenu(this);
    auto* sortGroup = new QActionGroup(m_sortMenu);
    for (Library::SortKey key : Library::allSortKeys) {
        QAction* action = m_sortMenu->addAction(Library::title(key));
        action->setCheckable(true);
        action->setData(Library::rawValue(key));
        sortGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, key] { emit sortKeyChosen(key); });
    }
    m_sortButton = new SortButton;
    m_sortButton->setMenu(m_sortMenu);
    {
        QFont font = m_sortButton->font();
        font.setPointSizeF(font.pointSizeF() - 0.5);
        font.setWeight(QFont::DemiBold);
        m_sortButton->setFont(font);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kHeaderInsets);
    layout->setSpacing(kHeaderSpacing);
    layout->addWidget(m_popup, 0, Qt::AlignLeft);
    layout->addWidget(m_searchField);
    layout->addWidget(m_sortButton, 0, Qt::AlignLeft);
}

void LibraryPaneHeader::showSortKey(Library::SortKey key)
{
    m_sortButton->setText(localizedFormat(QStringLiteral("library.sort"), {Library::title(key)}));
}

void LibraryPaneHeader::checkSortKey(Library::SortKey key)
{
    for (QAction* action : m_sortMenu->actions()) action->setChecked(action->data().toString() == Library::rawValue(key));
}

void LibraryPaneHeader::setTreeControlsEnabled(bool enabled)
{
    m_searchField->setEnabled(enabled);
    m_sortButton->setEnabled(enabled);
}

void LibraryPaneHeader::resetInsets()
{
    if (auto* box = qobject_cast<QVBoxLayout*>(layout())) box->setContentsMargins(kHeaderInsets);
}

void LibraryPaneHeader::applyColors(const LibraryPaneColors& c)
{
    m_popup->text = c.text;
    m_popup->secondary = c.secondary;
    m_popup->update();
    m_sortButton->text = c.secondary;
    m_sortButton->hover = views::blend(c.chrome, c.foreground, 0.08);
    m_sortButton->update();

    // The field stands a little apart from the pane, with rounded corners.
    const QColor field = c.isDark ? views::blend(c.chrome, c.foreground, 0.07) : views::blend(c.chrome, c.background, 0.75);
    const QColor fieldBorder = views::blend(c.chrome, c.foreground, c.isDark ? 0.16 : 0.14);
    m_searchField->setStyleSheet(
        QStringLiteral("QLineEdit { background: %1; color: %2; border: 1px solid %3; border-radius: 6px;"
                       " padding: 3px 4px; selection-background-color: %4; }"
                       "QLineEdit:focus { border: 1px solid %5; }")
            .arg(field.name(), c.text.name(), fieldBorder.name(), views::blend(field, c.foreground, 0.25).name(),
                 views::blend(c.chrome, c.accent, 0.7).name()));
    const auto actions = m_searchField->actions();
    for (QAction* action : actions)
        if (action->objectName() == kSearchIconName) m_searchField->removeAction(action);
    QAction* icon = m_searchField->addAction(libraryIcons::search(c.secondary), QLineEdit::LeadingPosition);
    icon->setObjectName(kSearchIconName);
}

} // namespace lumora
