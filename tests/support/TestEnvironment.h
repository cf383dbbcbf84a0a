#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QWidget;

namespace lumora::test {

// The private folder this test process uses as HOME and as every XDG
// folder, made before anything reads the environment. Tests never see the
// user's real configuration or files.
QString sandboxRoot();

// A fresh, empty folder inside the sandbox for one test.
QString freshDirectory(const QString& name);

// Writes bytes to path (creating folders), failing the test on error.
void writeFile(const QString& path, const QByteArray& bytes);

// The tiny spelling dictionary shipped with the tests ("en_ZZ", a few dozen
// common English words), copied into a fresh folder of the sandbox that
// Enchant is pointed at ($ENCHANT_CONFIG_DIR), so that learnt words land in
// the sandbox too. Returns the language tag.
QString installTestDictionary();
QByteArray readFile(const QString& path);

// Runs answer on the modal dialog that opens next (other than above, a
// dialog already open under it), once its event loop runs.
void whenModal(std::function<void(QWidget*)> answer, QWidget* above = nullptr);

} // namespace lumora::test
