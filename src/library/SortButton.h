#pragma once

#include <QColor>
#include <QToolButton>

namespace lumora {

// The library pane's sort button: its title and a chevron, quiet until the
// pointer is over it; it pops up the sort menu.
class SortButton : public QToolButton {
public:
    explicit SortButton(QWidget* parent = nullptr);

    // Colours from the theme: the title, and the fill under the pointer.
    QColor text, hover;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int kPadding = 4;
    static constexpr int kChevron = 10;
    QString title() const { return QToolButton::text(); }
};

} // namespace lumora
