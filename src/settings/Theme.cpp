#include "settings/Theme.h"

#include "platform/foundation/Localization.h"

namespace lumora {

namespace {

const QString kId = QStringLiteral("id");
const QString kForeground = QStringLiteral("foregroundColor");
const QString kBackground = QStringLiteral("backgroundColor");
const QString kCursor = QStringLiteral("cursorColor");
const QString kIsDark = QStringLiteral("isDark");
const QString kOpposite = QStringLiteral("oppositeTheme");

std::optional<Color> colorIn(const QVariantMap& record, const QString& key)
{
    const QVariant v = record.value(key);
    if (v.typeId() != QMetaType::QByteArray) return std::nullopt;
    return Color::unarchived(v.toByteArray());
}

} // namespace

Theme::Theme(Private, QString themeId, Color foreground, Color background, Color cursor, bool dark)
    : id(std::move(themeId)), foregroundColor(foreground), backgroundColor(background), cursorColor(cursor),
      isDark(dark)
{
}

std::shared_ptr<Theme> Theme::make(QString id, Color foreground, Color background, Color cursor, bool isDark,
                                   const std::shared_ptr<Theme>& opposite)
{
    auto theme = std::make_shared<Theme>(Private{}, std::move(id), foreground, background, cursor, isDark);
    if (opposite) theme->setOppositeTheme(opposite);
    return theme;
}

std::shared_ptr<Theme> Theme::make(const QVariantMap& record, const ThemeList& themesSoFar)
{
    const QVariant id = record.value(kId);
    const QVariant dark = record.value(kIsDark);
    const auto foreground = colorIn(record, kForeground);
    const auto background = colorIn(record, kBackground);
    const auto cursor = colorIn(record, kCursor);
    if (id.typeId() != QMetaType::QString || dark.typeId() != QMetaType::Bool || !foreground || !background
        || !cursor)
        return nullptr;

    auto theme = make(id.toString(), *foreground, *background, *cursor, dark.toBool());
    const QVariant opposite = record.value(kOpposite);
    if (opposite.typeId() == QMetaType::QString) {
        const QString oppositeId = opposite.toString();
        for (const auto& other : themesSoFar) {
            if (other && other->id == oppositeId) {
                theme->setOppositeTheme(other);
                break;
            }
        }
    }
    return theme;
}

void Theme::setOppositeTheme(const std::shared_ptr<Theme>& opposite)
{
    const std::shared_ptr<Theme> current = m_opposite.lock();
    if (opposite && current == opposite) return;
    if (current && current->m_opposite.lock().get() == this) current->m_opposite.reset();
    m_opposite.reset();
    if (!opposite || opposite.get() == this) return;
    if (const std::shared_ptr<Theme> theirs = opposite->m_opposite.lock(); theirs && theirs.get() != this)
        theirs->m_opposite.reset();
    opposite->m_opposite = weak_from_this();
    m_opposite = opposite;
}

QVariantMap Theme::propertyList() const
{
    QVariantMap record{
        {kId, id},
        {kForeground, foregroundColor.archived()},
        {kBackground, backgroundColor.archived()},
        {kCursor, cursorColor.archived()},
        {kIsDark, isDark},
    };
    if (const auto opposite = oppositeTheme()) record.insert(kOpposite, opposite->id);
    return record;
}

bool Theme::isBuiltInId(const QString& themeId)
{
    for (const auto& builtIn : defaultThemes())
        if (builtIn->id == themeId) return true;
    return false;
}

bool Theme::isBuiltIn() const { return isBuiltInId(id); }

QString Theme::displayName() const
{
    if (isBuiltIn()) return localized(QStringLiteral("theme.name.") + id);
    return id;
}

const std::vector<std::shared_ptr<const Theme>>& Theme::defaultThemes()
{
    static const std::vector<std::shared_ptr<const Theme>> themes = [] {
        const Color cursor(0.2, 0.6, 0.85);
        auto light = make(QStringLiteral("light"), Color::white(0.16), Color::white(0.94), cursor, false);
        auto dark = make(QStringLiteral("dark"), Color::white(0.65), Color::white(0.06), cursor, true, light);
        auto sepia = make(QStringLiteral("sepia"), Color(0.41, 0.37, 0.31), Color(0.99, 0.93, 0.79), cursor, false);
        auto amber = make(QStringLiteral("amber"), Color(1.0, 0.65, 0.0), Color(0.0, 0.0, 0.0), cursor, true);
        return std::vector<std::shared_ptr<const Theme>>{light, dark, sepia, amber};
    }();
    return themes;
}

QString Theme::nameForCopy(const QString& name, const QString& format,
                          const std::function<bool(const QString&)>& isTaken)
{
    const QString first = formatWithPlaceholders(format, {name});
    QString candidate = first;
    for (int rounds = 0; isTaken(candidate); ++rounds) {
        const QString next = formatWithPlaceholders(format, {candidate});
        if (next == candidate || rounds >= 100) {
            for (qint64 n = 2;; ++n) {
                candidate = first + QLatin1Char(' ') + QString::number(n);
                if (!isTaken(candidate)) return candidate;
            }
        }
        candidate = next;
    }
    return candidate;
}

const QString& Theme::noOppositeTitle()
{
    static const QString title = localized(QStringLiteral("theme.oppposite.none"));
    return title;
}

} // namespace lumora
