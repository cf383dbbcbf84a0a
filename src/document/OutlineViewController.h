#pragma once

#include <QWidget>

namespace lumora {

// The outline pane of a document window (the right side pane). Until the
// outline sidebar arrives it shows only its title, on the sidebar's
// colours.
class OutlineViewController : public QWidget {
    Q_OBJECT

public:
    explicit OutlineViewController(QWidget* parent = nullptr);

    // Set by the window: the window's title strip never hides while this is
    // on (a window in a tab group).
    bool titleBarIsAlwaysVisible = false;
    // Places the title as the window's title strip allows.
    void updateTitleLabelPosition();
    // Rebuilds the outline from the editor's text.
    void reloadOutline();
    // The sidebar's background and text colours from the current theme.
    void applyTheme();

    QSize sizeHint() const override;
};

} // namespace lumora
