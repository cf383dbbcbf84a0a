#include "document/SubstitutionsPanel.h"

#include "platform/foundation/Localization.h"
#include "platform/files/UserDefaults.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace lumora {

namespace {

const QString kTextReplacementsKey = QStringLiteral("textReplacements");

std::vector<text::TextReplacementEntry> defaultEntries()
{
    return {{QStringLiteral("(c)"), QStringLiteral("©")},
            {QStringLiteral("(r)"), QStringLiteral("®")},
            {QStringLiteral("(tm)"), QStringLiteral("™")}};
}

// The list as last read or stored, with the store it belongs to, so that
// typing does not parse the preferences at every space.
struct EntriesCache {
    const UserDefaults* store = nullptr;
    std::optional<std::vector<text::TextReplacementEntry>> entries;
};

EntriesCache& cachedEntries()
{
    static EntriesCache cache;
    return cache;
}

SubstitutionsPanel*& panelInstance()
{
    static SubstitutionsPanel* panel = nullptr;
    return panel;
}

} // namespace

std::vector<text::TextReplacementEntry> TextReplacements::entries()
{
    EntriesCache& cache = cachedEntries();
    const UserDefaults* defaults = Settings::shared().userDefaults();
    if (cache.entries && cache.store == defaults) return *cache.entries;
    const auto stored = defaults ? defaults->arrayValue(kTextReplacementsKey) : std::nullopt;
    std::vector<text::TextReplacementEntry> list;
    if (!stored) list = defaultEntries();
    for (const QVariant& item : stored.value_or(QVariantList())) {
        const QVariantMap record = item.toMap();
        const QVariant replace = record.value(QStringLiteral("replace"));
        const QVariant with = record.value(QStringLiteral("with"));
        // A record of another shape is skipped, not guessed at.
        if (replace.typeId() != QMetaType::QString || with.typeId() != QMetaType::QString) continue;
        if (replace.toString().isEmpty()) continue;
        list.push_back({replace.toString(), with.toString()});
    }
    cache = EntriesCache{defaults, list};
    return list;
}

void TextReplacements::setEntries(const std::vector<text::TextReplacementEntry>& entries)
{
    std::vector<text::TextReplacementEntry> kept;
    QVariantList records;
    for (const auto& entry : entries) {
        if (entry.replace.isEmpty()) continue;
        kept.push_back(entry);
        records.append(QVariantMap{{QStringLiteral("replace"), entry.replace}, {QStringLiteral("with"), entry.with}});
    }
    UserDefaults* defaults = Settings::shared().userDefaults();
    cachedEntries() = EntriesCache{defaults, kept};
    if (!defaults) return;
    // Replacements another Lumora changes meanwhile stay: the stored list
    // merges by the text each one replaces.
    defaults->mergeByRecords(kTextReplacementsKey, [](const QVariant& record) {
        return record.toMap().value(QStringLiteral("replace")).toString();
    });
    defaults->set(kTextReplacementsKey, records);
}

// ---- The panel ----------------------------------------------------------------------

const std::vector<std::pair<const char*, const char*>>& SubstitutionsPanel::switches()
{
    static const std::vector<std::pair<const char*, const char*>> list{
        {"smartInsertDeleteEnabled", "menu.edit.substitutions.smart.copyPaste"},
        {"automaticQuoteSubstitutionEnabled", "menu.edit.substitutions.smart.quotes"},
        {"automaticDashSubstitutionEnabled", "menu.edit.substitutions.smart.dashes"},
        {"automaticLinkDetectionEnabled", "menu.edit.substitutions.smart.links"},
        {"automaticDataDetectionEnabled", "menu.edit.substitutions.dataDetectors"},
        {"automaticTextReplacementEnabled", "menu.edit.substitutions.textReplacement"},
    };
    return list;
}

SubstitutionsPanel& SubstitutionsPanel::shared()
{
    SubstitutionsPanel*& panel = panelInstance();
    if (!panel) {
        // A window of its own, closed with the application.
        panel = new SubstitutionsPanel;
        QObject::connect(panel, &QObject::destroyed, [] { panelInstance() = nullptr; });
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, panel, &QObject::deleteLater);
    }
    return *panel;
}

SubstitutionsPanel* SubstitutionsPanel::existing() { return panelInstance(); }

SubstitutionsPanel::SubstitutionsPanel(QWidget* parent) : QWidget(parent, Qt::Tool)
{
    setWindowTitle(localized("substitutions.panel.title"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(6);
    for (const auto& [key, titleKey] : switches()) {
        auto* box = new QCheckBox(localizedMenuTitle(QString::fromLatin1(titleKey)), this);
        const QString optionKey = QString::fromLatin1(key);
        connect(box, &QCheckBox::toggled, this, [this, optionKey](bool on) {
            if (!m_filling && m_owner && m_options.set) m_options.set(optionKey, on);
        });
        m_checkBoxes.emplace_back(optionKey, box);
        layout->addWidget(box);
    }
    auto* note = new QLabel(localized("substitutions.panel.plainText"), this);
    note->setWordWrap(true);
    QFont small = note->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    note->setFont(small);
    layout->addWidget(note);

    layout->addSpacing(6);
    layout->addWidget(new QLabel(localized("substitutions.panel.replacements"), this));
    m_table = new QTableWidget(0, 2, this);
    m_table->setHorizontalHeaderLabels({localized("substitutions.panel.replace"), localized("substitutions.panel.with")});
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    layout->addWidget(m_table, 1);
    auto* buttons = new QHBoxLayout;
    m_add = new QPushButton(QStringLiteral("+"), this);
    m_remove = new QPushButton(QStringLiteral("−"), this);
    m_add->setToolTip(localized("substitutions.panel.add"));
    m_remove->setToolTip(localized("substitutions.panel.remove"));
    buttons->addWidget(m_add);
    buttons->addWidget(m_remove);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    connect(m_table, &QTableWidget::itemChanged, this, [this] {
        if (!m_filling) storeTable();
    });
    connect(m_add, &QPushButton::clicked, this, [this] {
        const int row = m_table->rowCount();
        m_filling = true;
        m_table->insertRow(row);
        m_table->setItem(row, 0, new QTableWidgetItem);
        m_table->setItem(row, 1, new QTableWidgetItem);
        m_filling = false;
        m_table->setCurrentCell(row, 0);
        m_table->editItem(m_table->item(row, 0));
    });
    connect(m_remove, &QPushButton::clicked, this, [this] {
        const int row = m_table->currentRow();
        if (row < 0) return;
        m_table->removeRow(row);
        storeTable();
    });
    resize(380, 460);
    refresh();
}

void SubstitutionsPanel::setOptions(Options options, QObject* owner)
{
    m_options = std::move(options);
    m_owner = owner;
    refresh();
}

void SubstitutionsPanel::refresh()
{
    m_filling = true;
    for (auto& [key, box] : m_checkBoxes) {
        box->setEnabled(m_owner && m_options.get);
        box->setChecked(m_owner && m_options.get && m_options.get(key));
    }
    const auto list = TextReplacements::entries();
    m_table->setRowCount(int(list.size()));
    for (int row = 0; row < int(list.size()); ++row) {
        m_table->setItem(row, 0, new QTableWidgetItem(list[size_t(row)].replace));
        m_table->setItem(row, 1, new QTableWidgetItem(list[size_t(row)].with));
    }
    m_filling = false;
}

QCheckBox* SubstitutionsPanel::checkBox(const QString& key) const
{
    for (const auto& [k, box] : m_checkBoxes)
        if (k == key) return box;
    return nullptr;
}

void SubstitutionsPanel::storeTable()
{
    std::vector<text::TextReplacementEntry> list;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const QTableWidgetItem* replace = m_table->item(row, 0);
        const QTableWidgetItem* with = m_table->item(row, 1);
        list.push_back({replace ? replace->text() : QString(), with ? with->text() : QString()});
    }
    TextReplacements::setEntries(list);
}

} // namespace lumora
