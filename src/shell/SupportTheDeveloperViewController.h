#pragma once

#include "shell/InAppPurchaseController.h"

#include <QDialog>
#include <QWidget>

#include <vector>

class QLabel;
class QPushButton;
class QScrollArea;

namespace lumora {

class ProgressSpinner;

// The donation window's content: the donation products, each with its
// image, title, description and a button that gives its price; a spinner
// while they load; a line that says why there is nothing to give when the
// store takes no payments or could not answer; the web page and close
// buttons. A donation unlocks nothing.
//
// Each time it is shown it asks for the products again and becomes the
// purchase controller's delegate (the window shown last hears the store).
// The donation window: no close box of its own; its Close button, Escape
// and File ▸ Close close it.
class SupportWindow : public QDialog {
    Q_OBJECT

public:
    SupportWindow();
};

class SupportTheDeveloperViewController : public QWidget, public InAppPurchaseControllerDelegate {
    Q_OBJECT

public:
    explicit SupportTheDeveloperViewController(InAppPurchaseController& controller, QWidget* parent = nullptr);
    ~SupportTheDeveloperViewController() override;

    // A new donation window around a new controller of the window's
    // content, shown and brought forward; deleted when closed. Every call
    // opens another window.
    static QWidget* showSupportWindow(InAppPurchaseController& controller = InAppPurchaseController::shared());

    // The product rows, in order (for tests): the row's buy button.
    QPushButton* buyButton(int row) const;
    int rowCount() const { return int(m_rows.size()); }
    QWidget* productList() const;
    ProgressSpinner* loadingIndicator() const { return m_loadingIndicator; }
    QLabel* statusLine() const { return m_statusLine; }
    QPushButton* websiteButton() const { return m_websiteButton; }
    QPushButton* closeButton() const { return m_closeButton; }

    // Rebuilds every row and the state around them from the controller.
    void reloadData();
    // Refreshes the button of one row.
    void reloadRow(int row);
    // The buy button of a row: a payment for exactly that row's product.
    void donate(int row);

    // InAppPurchaseControllerDelegate
    void productsDidChange() override;
    void productDidChange(const QString& productIdentifier) override;
    void presentError(const PlatformError& error) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Row {
        QWidget* view = nullptr;
        QPushButton* button = nullptr;
    };
    QWidget* makeRow(const InAppPurchaseController::Entry& entry, int row);
    void updateFrame();

    InAppPurchaseController& m_controller;
    QScrollArea* m_scrollArea = nullptr;
    QWidget* m_listArea = nullptr;
    QWidget* m_rowsView = nullptr;
    ProgressSpinner* m_loadingIndicator = nullptr;
    QLabel* m_statusLine = nullptr;
    QWidget* m_spacer = nullptr;
    QPushButton* m_websiteButton = nullptr;
    QPushButton* m_closeButton = nullptr;
    std::vector<Row> m_rows;
};

// A small spinning wheel that turns while it is shown.
class ProgressSpinner : public QWidget {
    Q_OBJECT

public:
    explicit ProgressSpinner(QWidget* parent = nullptr);
    bool isSpinning() const;
    QSize sizeHint() const override { return {32, 32}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int m_step = 0;
    int m_timer = 0;
    void timerEvent(QTimerEvent* event) override;
};

} // namespace lumora
