#pragma once

#include "platform/text/TextSubstitutions.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

class QCheckBox;
class QPushButton;
class QTableWidget;

namespace lumora {

// The writer's text replacements, kept in the preferences under
// "textReplacements" (a list of {"replace", "with"} records). Until the
// writer changes the list it holds (c), (r) and (tm).
namespace TextReplacements {
std::vector<text::TextReplacementEntry> entries();
// Stores the list; entries without a shortcut are left out.
void setEntries(const std::vector<text::TextReplacementEntry>& entries);
} // namespace TextReplacements

// The Substitutions panel: a switch for each substitution (they are the
// editor's text options, stored for every editor) and the list of text
// replacements to edit. One for the application.
class SubstitutionsPanel : public QWidget {
    Q_OBJECT

public:
    static SubstitutionsPanel& shared();
    static SubstitutionsPanel* existing();

    // How the switches read and change the options (the editor's own).
    struct Options {
        std::function<bool(const QString& key)> get;
        std::function<void(const QString& key, bool on)> set;
    };
    void setOptions(Options options, QObject* owner);
    // Shows the options' and the list's current values.
    void refresh();

    QCheckBox* checkBox(const QString& key) const;
    QTableWidget* table() const { return m_table; }
    QPushButton* addButton() const { return m_add; }
    QPushButton* removeButton() const { return m_remove; }

    // The option keys the switches stand for, in order.
    static const std::vector<std::pair<const char*, const char*>>& switches();

private:
    explicit SubstitutionsPanel(QWidget* parent = nullptr);
    void storeTable();

    std::vector<std::pair<QString, QCheckBox*>> m_checkBoxes;
    QTableWidget* m_table = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_remove = nullptr;
    Options m_options;
    QPointer<QObject> m_owner;
    bool m_filling = false;
};

} // namespace lumora
