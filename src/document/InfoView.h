#pragma once

#include "platform/foundation/Range.h"

#include <QWidget>

namespace lumora {

class DocumentData;
class OneLineLabel;

// The statistics line under the editor: one centred line of words,
// characters and reading time, 12 points above and below, at least 16 from
// either side, with a 1-point separator along its top edge.
class InfoView : public QWidget {
    Q_OBJECT

public:
    explicit InfoView(QWidget* parent = nullptr);

    OneLineLabel* infoLabel() const { return m_infoLabel; }

    // Shows the statistics of the selection, or of the whole text when the
    // selection is empty (the editor passes its selected range).
    void updateInfo(const DocumentData& data, Range selection);
    // Shows a statistics line counted elsewhere.
    void showStatistics(const QString& line);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void applyColors();

    OneLineLabel* m_infoLabel = nullptr;
};

} // namespace lumora
