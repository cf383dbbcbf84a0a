#include "document/FindBar.h"

#include "platform/foundation/Localization.h"
#include "settings/Theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace lumora {

namespace {

QToolButton* toolButton(const QString& text, const QString& toolTip, QWidget* parent, bool checkable = false)
{
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setToolTip(toolTip);
    button->setCheckable(checkable);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

QColor mixed(const QColor& a, const QColor& b, double amount)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * amount),
                            float(a.greenF() + (b.greenF() - a.greenF()) * amount),
                            float(a.blueF() + (b.blueF() - a.blueF()) * amount));
}

} // namespace

FindBar::FindBar(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(false);
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(10, 6, 10, 6);
    rows->setSpacing(4);

    auto* findRow = new QHBoxLayout;
    findRow->setSpacing(4);
    m_findField = new QLineEdit(this);
    m_findField->setPlaceholderText(localized("find.field.placeholder"));
    m_findField->setClearButtonEnabled(true);
    m_findField->installEventFilter(this);
    m_status = new QLabel(this);
    m_status->hide();
    m_previous = toolButton(QStringLiteral("‹"), localized("menu.edit.find.previous"), this);
    m_next = toolButton(QStringLiteral("›"), localized("menu.edit.find.next"), this);
    m_matchCase = toolButton(localized("find.matchCase"), localized("find.matchCase.help"), this, true);
    m_wholeWords = toolButton(localized("find.wholeWords"), localized("find.wholeWords.help"), this, true);
    m_done = toolButton(localized("find.done"), QString(), this);
    findRow->addWidget(m_findField, 1);
    findRow->addWidget(m_status);
    findRow->addWidget(m_previous);
    findRow->addWidget(m_next);
    findRow->addWidget(m_matchCase);
    findRow->addWidget(m_wholeWords);
    findRow->addWidget(m_done);
    rows->addLayout(findRow);

    m_replaceRow = new QWidget(this);
    auto* replaceRow = new QHBoxLayout(m_replaceRow);
    replaceRow->setContentsMargins(0, 0, 0, 0);
    replaceRow->setSpacing(4);
    m_replaceField = new QLineEdit(m_replaceRow);
    m_replaceField->setPlaceholderText(localized("find.replace.placeholder"));
    m_replaceField->installEventFilter(this);
    m_replace = new QPushButton(localized("find.replace"), m_replaceRow);
    m_replaceAll = new QPushButton(localized("find.replaceAll"), m_replaceRow);
    for (QPushButton* button : {m_replace, m_replaceAll}) {
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::TabFocus);
    }
    replaceRow->addWidget(m_replaceField, 1);
    replaceRow->addWidget(m_replace);
    replaceRow->addWidget(m_replaceAll);
    rows->addWidget(m_replaceRow);
    m_replaceRow->hide();

    connect(m_findField, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!m_settingText) emit findStringEdited(text);
    });
    connect(m_previous, &QToolButton::clicked, this, &FindBar::previousRequested);
    connect(m_next, &QToolButton::clicked, this, &FindBar::nextRequested);
    connect(m_matchCase, &QToolButton::toggled, this, &FindBar::optionsChanged);
    connect(m_wholeWords, &QToolButton::toggled, this, &FindBar::optionsChanged);
    connect(m_done, &QToolButton::clicked, this, &FindBar::closeRequested);
    connect(m_replace, &QPushButton::clicked, this, &FindBar::replaceRequested);
    connect(m_replaceAll, &QPushButton::clicked, this, &FindBar::replaceAllRequested);
    setFocusProxy(m_findField);
}

QString FindBar::findString() const { return m_findField->text(); }

void FindBar::setFindString(const QString& text)
{
    if (m_findField->text() == text) return;
    m_settingText = true;
    m_findField->setText(text);
    m_settingText = false;
}

QString FindBar::replaceString() const { return m_replaceField->text(); }

FindOptions FindBar::options() const { return FindOptions{m_matchCase->isChecked(), m_wholeWords->isChecked()}; }

void FindBar::setOptions(FindOptions options)
{
    const QSignalBlocker a(m_matchCase), b(m_wholeWords);
    m_matchCase->setChecked(options.caseSensitive);
    m_wholeWords->setChecked(options.wholeWords);
}

void FindBar::setReplaceVisible(bool visible)
{
    if (m_replaceRow->isVisibleTo(this) == visible) return;
    m_replaceRow->setVisible(visible);
    adjustSize();
}

bool FindBar::isReplaceVisible() const { return m_replaceRow->isVisibleTo(this); }

void FindBar::setReplaceEnabled(bool enabled)
{
    m_replace->setEnabled(enabled);
    m_replaceAll->setEnabled(enabled);
}

void FindBar::setStatus(const QString& text)
{
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
}

QString FindBar::status() const { return m_status->text(); }

void FindBar::focusFindField()
{
    m_findField->setFocus(Qt::ShortcutFocusReason);
    m_findField->selectAll();
}

void FindBar::applyTheme(const Theme& theme)
{
    const QColor background = theme.backgroundColor.toQColor();
    const QColor foreground = theme.foregroundColor.toQColor();
    QPalette p = palette();
    p.setColor(QPalette::Window, mixed(background, foreground, 0.06));
    p.setColor(QPalette::WindowText, foreground);
    p.setColor(QPalette::ButtonText, foreground);
    p.setColor(QPalette::Button, mixed(background, foreground, 0.1));
    p.setColor(QPalette::Base, background);
    p.setColor(QPalette::Text, foreground);
    QColor placeholder = foreground;
    placeholder.setAlphaF(0.45f);
    p.setColor(QPalette::PlaceholderText, placeholder);
    QColor selection = foreground;
    selection.setAlphaF(0.3f);
    p.setColor(QPalette::Highlight, selection);
    p.setColor(QPalette::HighlightedText, foreground);
    setPalette(p);
    update();
}

bool FindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && (watched == m_findField || watched == m_replaceField)) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        if (enter && (mods == Qt::NoModifier || mods == Qt::ShiftModifier)) {
            if (watched == m_replaceField && mods == Qt::NoModifier) emit replaceRequested();
            else if (mods == Qt::ShiftModifier) emit previousRequested();
            else emit nextRequested();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool FindBar::focusNextPrevChild(bool next)
{
    QList<QWidget*> order;
    for (QWidget* w : std::initializer_list<QWidget*>{m_findField, m_replaceField, m_previous, m_next, m_matchCase,
                                                       m_wholeWords, m_done, m_replace, m_replaceAll})
        if (w->isVisibleTo(this) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) order << w;
    if (order.isEmpty()) return true;
    const qsizetype at = order.indexOf(window()->focusWidget());
    // From anywhere else in the bar: to the find field.
    const qsizetype to = at < 0 ? 0 : (at + (next ? 1 : order.size() - 1)) % order.size();
    order[to]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

void FindBar::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) emit closeRequested();
    // What the bar's controls leave alone goes no further than the bar.
    event->accept();
}

void FindBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    QColor line = palette().color(QPalette::WindowText);
    line.setAlphaF(0.15f);
    painter.fillRect(QRect(0, height() - 1, width(), 1), line);
}

} // namespace lumora
