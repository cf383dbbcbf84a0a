#include "shell/ThemeViewController.h"

#include "platform/foundation/Localization.h"
#include "settings/Settings.h"
#include "widgets/ViewUtilities.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>

#include <algorithm>

namespace lumora {

namespace {

// Edits reach the stored list this long after the last one.
constexpr int kSaveDelayMs = 1000;
// Edits show in every window at most this often.
constexpr int kRestyleIntervalMs = 40;

std::shared_ptr<Theme> themeOf(const QVariant& value) { return value.value<std::shared_ptr<Theme>>(); }

} // namespace

ThemeViewController::ThemeViewController(QWidget* parent) : QWidget(parent), m_theme(Settings::shared().theme())
{
    m_foregroundColorWell = views::colorWell([this](const QColor& c) { setForegroundColor(c); });
    m_backgroundColorWell = views::colorWell([this](const QColor& c) { setBackgroundColor(c); });
    m_cursorColorWell = views::colorWell([this](const QColor& c) { setCursorColor(c); });
    m_oppositeThemeButton = views::popUpButton({}, [this](int index) { setOppositeTheme(index); });
    m_oppositeThemeButton->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_isDarkButton = views::checkbox(localized("theme.isDark"), [this](bool checked) { setIsDark(checked); });
    // Cancel in a chooser puts back the very colour the theme had.
    const auto restoring = [this](int well, ColorWell* view, Color Theme::*field) {
        connect(view, &ColorWell::choosingStarted, this, [this, well, field] {
            if (m_theme) m_colorsBeforeChoosing[size_t(well)] = (*m_theme).*field;
        });
        connect(view, &ColorWell::choosingCancelled, this, [this, well, field] {
            const std::optional<Color> before = m_colorsBeforeChoosing[size_t(well)];
            if (!m_theme || !before || (*m_theme).*field == *before) return;
            (*m_theme).*field = *before;
            applyEdit();
        });
    };
    restoring(0, m_foregroundColorWell, &Theme::foregroundColor);
    restoring(1, m_backgroundColorWell, &Theme::backgroundColor);
    restoring(2, m_cursorColorWell, &Theme::cursorColor);

    const auto row = [](const char* key, QWidget* control) {
        return new PivotedStackView({views::label(localized(key))}, {control});
    };
    QWidget* form = views::verticalStack(
        {row("theme.foreground", m_foregroundColorWell), row("theme.background", m_backgroundColorWell),
         row("theme.cursor", m_cursorColorWell), new PivotedStackView({}, {m_isDarkButton}),
         row("theme.opposite", m_oppositeThemeButton)},
        Qt::AlignLeft, 8);
    auto* column = views::verticalStack({form}, Qt::AlignLeft, 0);
    static_cast<QBoxLayout*>(column->layout())->addStretch(1); // the form keeps to the top
    views::pin(column, this, edgeInsets(16, 16, 16, 16));
    setMinimumSize(300, 300);

    m_restyleTimer.setSingleShot(true);
    m_restyleTimer.setInterval(kRestyleIntervalMs);
    connect(&m_restyleTimer, &QTimer::timeout, this, [this] {
        if (!m_restylePending) return;
        restyle();
        m_restyleTimer.start();
    });
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(kSaveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, [] { Settings::shared().saveThemes(); });

    Settings& settings = Settings::shared();
    connect(&settings, &Settings::themeChanged, this, &ThemeViewController::themeDidChange);
    connect(&settings, &Settings::themesChanged, this, &ThemeViewController::updateOppositeThemeMenu);
    updateControls();
}

ThemeViewController::~ThemeViewController()
{
    // Deaf to the changes its own last restyle makes.
    disconnect(&Settings::shared(), nullptr, this, nullptr);
    if (m_restylePending) restyle();
    saveEdits();
}

void ThemeViewController::saveEdits()
{
    if (!m_saveTimer.isActive()) return;
    m_saveTimer.stop();
    Settings::shared().saveThemes();
}

void ThemeViewController::themeDidChange()
{
    const std::shared_ptr<Theme>& current = Settings::shared().theme();
    if (current != m_theme) {
        // A chooser that is still open worked on the theme left behind.
        for (ColorWell* well : {m_foregroundColorWell, m_backgroundColorWell, m_cursorColorWell})
            well->finishChoosing();
        m_colorsBeforeChoosing = {};
        m_theme = current;
    }
    updateControls();
}

void ThemeViewController::updateControls()
{
    if (!m_theme) return;
    m_foregroundColorWell->setColor(m_theme->foregroundColor.toQColor());
    m_backgroundColorWell->setColor(m_theme->backgroundColor.toQColor());
    m_cursorColorWell->setColor(m_theme->cursorColor.toQColor());
    updateOppositeThemeMenu();
    const bool builtIn = m_theme->isBuiltIn();
    m_oppositeThemeButton->setEnabled(!builtIn);
    m_isDarkButton->setChecked(m_theme->isDark);
    m_isDarkButton->setEnabled(!builtIn);
}

void ThemeViewController::updateOppositeThemeMenu()
{
    if (!m_theme) return;
    QComboBox* popUp = m_oppositeThemeButton;
    const QSignalBlocker blocker(popUp);
    popUp->clear();
    popUp->addItem(Theme::noOppositeTitle(), QVariant());
    popUp->insertSeparator(1);
    for (const auto& candidate : Settings::shared().themes())
        if (Settings::isPossibleOppositeTheme(candidate, m_theme))
            popUp->addItem(candidate->displayName(), QVariant::fromValue(candidate));
    const std::shared_ptr<Theme> opposite = m_theme->oppositeTheme();
    int selected = opposite ? -1 : 0;
    for (int i = 2; opposite && i < popUp->count(); ++i) {
        if (themeOf(popUp->itemData(i)) == opposite) {
            selected = i;
            break;
        }
    }
    popUp->setCurrentIndex(selected);
}

void ThemeViewController::applyEdit()
{
    m_saveTimer.start();
    // A chooser being dragged sends colours faster than every window can
    // restyle: the first shows at once, those that follow together a moment
    // later.
    if (m_restyleTimer.isActive()) {
        m_restylePending = true;
        return;
    }
    restyle();
    m_restyleTimer.start();
}

void ThemeViewController::restyle()
{
    m_restylePending = false;
    // The edited theme is the current one, and is set again: the windows
    // restyle, and "theme" and whether to follow the desktop's appearance
    // are written for it as it now is (a theme turned dark against a light
    // desktop no longer follows it). A theme left behind by a change
    // elsewhere is not made current again.
    Settings& settings = Settings::shared();
    if (m_theme != settings.theme()) return;
    settings.setTheme(m_theme);
}

void ThemeViewController::setForegroundColor(const QColor& color)
{
    if (!m_theme || !color.isValid()) return;
    m_theme->foregroundColor = Color::fromQColor(color);
    applyEdit();
}

void ThemeViewController::setBackgroundColor(const QColor& color)
{
    if (!m_theme || !color.isValid()) return;
    m_theme->backgroundColor = Color::fromQColor(color);
    applyEdit();
}

void ThemeViewController::setCursorColor(const QColor& color)
{
    if (!m_theme || !color.isValid()) return;
    m_theme->cursorColor = Color::fromQColor(color);
    applyEdit();
}

void ThemeViewController::setOppositeTheme(int index)
{
    if (!m_theme || m_theme->isBuiltIn() || index < 0 || index >= m_oppositeThemeButton->count()) return;
    const std::shared_ptr<Theme> chosen = themeOf(m_oppositeThemeButton->itemData(index));
    // Only a theme still in the list, and still a fit, can be paired.
    const ThemeList& themes = Settings::shared().themes();
    if (chosen
        && (std::find(themes.begin(), themes.end(), chosen) == themes.end()
            || !Settings::isPossibleOppositeTheme(chosen, m_theme)))
        return;
    // Both sides let go of earlier partners, so no pairing is left dangling.
    m_theme->setOppositeTheme(chosen);
    m_saveTimer.start();
}

void ThemeViewController::setIsDark(bool isDark)
{
    if (!m_theme || m_theme->isBuiltIn()) return;
    m_theme->isDark = isDark;
    // A pair holds one dark and one light theme.
    if (const auto opposite = m_theme->oppositeTheme()) opposite->isDark = !isDark;
    updateOppositeThemeMenu();
    applyEdit();
}

} // namespace lumora
