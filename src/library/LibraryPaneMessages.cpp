#include "library/LibraryPaneMessages.h"

#include "library/LibraryIcons.h"
#include "library/LibraryPaneColors.h"
#include "platform/foundation/Localization.h"
#include "widgets/ViewUtilities.h"

#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace lumora {

namespace {

constexpr int kMessageSpacing = 8;
constexpr int kMessageInset = 8;
constexpr int kMessageFontSize = 16;
constexpr int kUnavailableIconSize = 64;

QVBoxLayout* messageLayout(QWidget* view, int spacing)
{
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(kMessageInset, kMessageInset, kMessageInset, kMessageInset);
    layout->setSpacing(spacing);
    return layout;
}

} // namespace

LibraryPaneMessages::LibraryPaneMessages(QObject* parent) : QObject(parent)
{
    // No library, with a way to add one.
    m_emptyLabel = views::wrappingLabel(localized("library.none.mac"));
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    m_addFolderButton = views::button(localized("library.addFolder"), QIcon(), [this] { emit addFolderClicked(); });
    m_emptyView = new QWidget;
    {
        QVBoxLayout* layout = messageLayout(m_emptyView, kMessageSpacing * 2);
        layout->addStretch(1);
        layout->addWidget(m_emptyLabel);
        layout->addWidget(m_addFolderButton, 0, Qt::AlignHCenter);
        layout->addStretch(1);
    }

    // A folder that cannot be read, with a way to take it off the list.
    m_unavailableIcon = new QLabel;
    m_unavailableIcon->setFixedSize(kUnavailableIconSize, kUnavailableIconSize);
    m_unavailableLabel = views::wrappingLabel(localized("library.unavailable"));
    m_unavailableLabel->setAlignment(Qt::AlignCenter);
    m_removeLibraryButton = views::button(localized("library.remove"), QIcon(), [this] { emit removeLibraryClicked(); });
    m_unavailableView = new QWidget;
    {
        QVBoxLayout* layout = messageLayout(m_unavailableView, kMessageSpacing);
        layout->addStretch(1);
        layout->addWidget(m_unavailableIcon, 0, Qt::AlignHCenter);
        layout->addWidget(m_unavailableLabel);
        layout->addSpacing(kMessageSpacing);
        layout->addWidget(m_removeLibraryButton, 0, Qt::AlignHCenter);
        layout->addStretch(1);
    }
    for (QLabel* label : {m_emptyLabel, m_unavailableLabel}) {
        QFont font = label->font();
        font.setPointSizeF(font.pointSizeF() * kMessageFontSize / 13.0);
        label->setFont(font);
    }

    // While a large folder is read: what the pane is doing, and how far.
    m_loadingLabel = views::wrappingLabel(QString());
    m_loadingLabel->setAlignment(Qt::AlignCenter);
    m_loadingCount = views::wrappingLabel(QString());
    m_loadingCount->setAlignment(Qt::AlignCenter);
    m_loadingBar = new QProgressBar;
    m_loadingBar->setRange(0, 0); // busy: the size of a folder is known only once it is read
    m_loadingBar->setTextVisible(false);
    m_loadingBar->setFixedSize(120, 4);
    m_loadingView = new QWidget;
    {
        QVBoxLayout* layout = messageLayout(m_loadingView, kMessageSpacing);
        layout->addStretch(1);
        layout->addWidget(m_loadingLabel);
        layout->addWidget(m_loadingBar, 0, Qt::AlignHCenter);
        layout->addWidget(m_loadingCount);
        layout->addStretch(2);
    }

    // A search that finds nothing says so, over the empty outline.
    m_nothingFoundLabel = views::wrappingLabel(QString());
    m_nothingFoundLabel->setAlignment(Qt::AlignCenter);
    m_nothingFoundLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    m_nothingFoundView = new QWidget;
    {
        auto* layout = new QVBoxLayout(m_nothingFoundView);
        layout->setContentsMargins(kMessageInset * 2, kMessageInset * 3, kMessageInset * 2, kMessageInset);
        layout->addWidget(m_nothingFoundLabel, 0, Qt::AlignTop);
        layout->addStretch(1);
    }
}

void LibraryPaneMessages::setLoading(const QString& name, int foldersRead)
{
    m_loadingLabel->setText(localizedFormat(QStringLiteral("library.loading"), {name}));
    m_loadingCount->setText(
        localizedFormat(QStringLiteral("library.loading.folders"), {QLocale().toString(foldersRead)}));
}

void LibraryPaneMessages::setNothingFound(const QString& text, int width)
{
    m_nothingFoundLabel->setText(localizedFormat(QStringLiteral("library.search.nothing"), {text}));
    // Wrapped to the pane's width, at its full height.
    m_nothingFoundLabel->setMinimumHeight(m_nothingFoundLabel->heightForWidth(std::max(80, width - kMessageInset * 4)));
}

void LibraryPaneMessages::applyColors(const LibraryPaneColors& c, const QPalette& pane)
{
    QPalette quiet = pane;
    quiet.setColor(QPalette::WindowText, c.secondary);
    for (QLabel* label : {m_emptyLabel, m_unavailableLabel, m_loadingLabel, m_loadingCount, m_nothingFoundLabel})
        label->setPalette(quiet);
    QPalette bar = quiet;
    bar.setColor(QPalette::Highlight, views::blend(c.chrome, c.foreground, 0.35));
    bar.setColor(QPalette::Base, views::blend(c.chrome, c.foreground, 0.08));
    bar.setColor(QPalette::Window, views::blend(c.chrome, c.foreground, 0.08));
    m_loadingBar->setPalette(bar);
    m_unavailableIcon->setPixmap(libraryIcons::caution(c.secondary, kUnavailableIconSize));
}

} // namespace lumora
