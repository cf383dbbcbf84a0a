#include "shell/SupportTheDeveloperViewController.h"

#include "platform/application/ActionDispatcher.h"
#include "platform/foundation/Localization.h"
#include "shell/Dialogs.h"
#include "widgets/ViewUtilities.h"

#include <QBoxLayout>
#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QTimerEvent>


namespace lumora {

namespace {

constexpr int kRowHeight = 96;
constexpr int kImageSize = 90;
constexpr int kCloseButtonWidth = 77;
constexpr int kBuyButtonWidth = 110;
constexpr int kContentWidth = 480;
constexpr int kContentHeight = 400;

QString productText(const StoreProduct& product)
{
    // The title in bold over the description, 4 points apart.
    return QStringLiteral("<p style=\"margin-bottom:4px\"><b>%1</b></p><p style=\"margin:0\">%2</p>")
        .arg(product.localizedTitle.toHtmlEscaped(), product.localizedDescription.toHtmlEscaped());
}

} // namespace

// ProgressSpinner ----------------------------------------------------------------------

ProgressSpinner::ProgressSpinner(QWidget* parent) : QWidget(parent)
{
    setFixedSize(sizeHint());
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

bool ProgressSpinner::isSpinning() const { return m_timer != 0; }

void ProgressSpinner::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_timer) m_timer = startTimer(80);
}

void ProgressSpinner::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_timer) killTimer(m_timer);
    m_timer = 0;
}

void ProgressSpinner::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timer) return QWidget::timerEvent(event);
    m_step = (m_step + 1) % 12;
    update();
}

void ProgressSpinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const double radius = std::min(width(), height()) / 2.0;
    QColor ink = palette().color(QPalette::WindowText);
    for (int i = 0; i < 12; ++i) {
        // The spoke just passed is darkest; the others fade behind it.
        const int age = (m_step - i + 12) % 12;
        ink.setAlphaF(0.15 + 0.75 * (1.0 - age / 12.0));
        painter.setPen(QPen(ink, radius * 0.16, Qt::SolidLine, Qt::RoundCap));
        painter.save();
        painter.rotate(i * 30.0);
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.85));
        painter.restore();
    }
}

// SupportTheDeveloperViewController --------------------------------------------------

SupportTheDeveloperViewController::SupportTheDeveloperViewController(InAppPurchaseController& controller,
                                                                     QWidget* parent)
    : QWidget(parent), m_controller(controller)
{
    m_rowsView = new QWidget;
    auto* rowsLayout = new QVBoxLayout(m_rowsView);
    rowsLayout->setContentsMargins(0, 0, 0, 0);
    rowsLayout->setSpacing(0);
    rowsLayout->addStretch(1);

    m_scrollArea = new QScrollArea;
    m_scrollArea->setWidget(m_rowsView);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->viewport()->setAutoFillBackground(false);
    m_rowsView->setAutoFillBackground(false);

    // The spinner sits over the middle of the list's place.
    m_loadingIndicator = new ProgressSpinner;
    m_listArea = new QWidget;
    auto* grid = new QGridLayout(m_listArea);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(m_scrollArea, 0, 0);
    grid->addWidget(m_loadingIndicator, 0, 0, Qt::AlignCenter);

    m_statusLine = views::wrappingLabel(QString());
    m_statusLine->setForegroundRole(QPalette::WindowText);

    m_websiteButton = views::button(localizedMenuTitle(QStringLiteral("menu.help.website")), QIcon(), [this] {
        ActionDispatcher::instance().send(Command::openWebsite, nullptr, this);
    });
    // Shown only where the application has a web page to open.
    m_websiteButton->setVisible(ActionDispatcher::instance().canSend(Command::openWebsite, this));
    m_closeButton = views::button(localizedMenuTitle(QStringLiteral("menu.file.close")), QIcon(), [this] {
        window()->close();
    });
    m_closeButton->setMinimumWidth(kCloseButtonWidth);
    m_closeButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_websiteButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // Holds the buttons at the trailing end while there is no line.
    m_spacer = new QWidget;
    m_spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_closeButton->setAutoDefault(false);
    m_websiteButton->setAutoDefault(false);

    auto* buttons = new QWidget;
    auto* buttonsLayout = new QHBoxLayout(buttons);
    buttonsLayout->setContentsMargins(0, 0, 0, 0);
    buttonsLayout->setSpacing(8);
    buttonsLayout->addWidget(m_statusLine, 1, Qt::AlignVCenter);
    buttonsLayout->addWidget(m_spacer, 1);
    buttonsLayout->addWidget(m_websiteButton, 0, Qt::AlignBottom);
    buttonsLayout->addWidget(m_closeButton, 0, Qt::AlignBottom);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(8);
    layout->addWidget(m_listArea, 1);
    layout->addWidget(buttons, 0);

    reloadData();
}

SupportTheDeveloperViewController::~SupportTheDeveloperViewController() { m_controller.clearDelegate(this); }

SupportWindow::SupportWindow() : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {}

QWidget* SupportTheDeveloperViewController::showSupportWindow(InAppPurchaseController& controller)
{
    auto* window = new SupportWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QString());
    window->setModal(false);
    auto* content = new SupportTheDeveloperViewController(controller, window);
    views::pin(content, window);
    window->layout()->setSizeConstraint(QLayout::SetFixedSize); // the window is its content's size
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

QWidget* SupportTheDeveloperViewController::productList() const { return m_listArea; }

QPushButton* SupportTheDeveloperViewController::buyButton(int row) const
{
    return row >= 0 && row < rowCount() ? m_rows[size_t(row)].button : nullptr;
}

void SupportTheDeveloperViewController::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    // Asked again each time the window shows; this window hears the answer.
    m_controller.requestProducts();
    m_controller.setDelegate(this);
    reloadData();
}

void SupportTheDeveloperViewController::reloadData()
{
    auto* rowsLayout = static_cast<QVBoxLayout*>(m_rowsView->layout());
    // Later: a row's own button may be what led here.
    for (const Row& row : m_rows) {
        rowsLayout->removeWidget(row.view);
        row.view->hide();
        row.view->deleteLater();
    }
    m_rows.clear();
    const auto& products = m_controller.products();
    for (size_t i = 0; i < products.size(); ++i) {
        QWidget* view = makeRow(products[i], int(i));
        rowsLayout->insertWidget(int(i), view);
    }

    using Status = InAppPurchaseController::Status;
    const Status status = m_controller.status();
    const bool hasProducts = !products.empty();
    m_scrollArea->setVisible(hasProducts);
    m_loadingIndicator->setVisible(!hasProducts && (status == Status::loading || status == Status::idle));
    QString line;
    if (status == Status::unavailable) line = localized("donate.unavailable");
    else if (status == Status::failed)
        line = m_controller.productsError() ? m_controller.productsError()->errorDescription
                                            : localized("donate.error.products");
    m_statusLine->setText(line);
    m_statusLine->setVisible(!line.isEmpty());
    m_spacer->setVisible(line.isEmpty());
    // With nothing to show and nothing coming, the window is the line and
    // its buttons.
    m_listArea->setVisible(hasProducts || m_loadingIndicator->isVisibleTo(m_listArea));
    updateFrame();
}

void SupportTheDeveloperViewController::updateFrame()
{
    setFixedWidth(kContentWidth);
    if (m_listArea->isVisibleTo(this)) {
        setFixedHeight(kContentHeight);
    } else {
        layout()->invalidate();
        setFixedHeight(layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(kContentWidth)
                                                     : layout()->totalSizeHint().height());
    }
}

QWidget* SupportTheDeveloperViewController::makeRow(const InAppPurchaseController::Entry& entry, int row)
{
    auto* image = new QLabel;
    image->setFixedSize(kImageSize, kImageSize);
    if (!entry.image.isNull()) {
        const qreal ratio = devicePixelRatioF();
        QPixmap scaled = entry.image.scaled(QSize(kImageSize, kImageSize) * ratio, Qt::KeepAspectRatio,
                                            Qt::SmoothTransformation);
        scaled.setDevicePixelRatio(ratio);
        image->setPixmap(scaled);
    }
    image->setAlignment(Qt::AlignCenter);

    auto* text = views::richTextLabel(productText(entry.product));
    auto* button = new QPushButton;
    button->setAutoDefault(false);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    button->setMinimumWidth(kBuyButtonWidth); // the buttons line up, one under another
    connect(button, &QPushButton::clicked, this, [this, button] {
        // The row of the button at the time of the click.
        for (size_t i = 0; i < m_rows.size(); ++i)
            if (m_rows[i].button == button) donate(int(i));
    });

    auto* view = new QWidget;
    view->setFixedHeight(kRowHeight);
    auto* layout = new QHBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(image, 0, Qt::AlignVCenter);
    layout->addWidget(text, 1, Qt::AlignVCenter);
    layout->addWidget(button, 0, Qt::AlignVCenter);

    m_rows.push_back(Row{view, button});
    reloadRow(row);
    return view;
}

void SupportTheDeveloperViewController::reloadRow(int row)
{
    const auto& products = m_controller.products();
    if (row < 0 || row >= rowCount() || size_t(row) >= products.size()) return;
    const auto& entry = products[size_t(row)];
    QPushButton* button = m_rows[size_t(row)].button;
    const bool purchasing = m_controller.isPurchasing(entry.product.productIdentifier);
    button->setText(purchasing ? localized("donate.button.progress")
                               : localizedFormat(QStringLiteral("donate.button.general"), {entry.price}));
    // One payment of a product at a time.
    button->setEnabled(!purchasing);
}

void SupportTheDeveloperViewController::donate(int row)
{
    const auto& products = m_controller.products();
    if (row < 0 || size_t(row) >= products.size()) return;
    m_controller.buy(products[size_t(row)].product.productIdentifier);
    reloadRow(row);
}

void SupportTheDeveloperViewController::productsDidChange() { reloadData(); }

void SupportTheDeveloperViewController::productDidChange(const QString& productIdentifier)
{
    const auto& products = m_controller.products();
    for (size_t i = 0; i < products.size(); ++i) {
        if (products[i].product.productIdentifier == productIdentifier) {
            reloadRow(int(i));
            return;
        }
    }
}

void SupportTheDeveloperViewController::presentError(const PlatformError& error)
{
    presentApplicationError(error);
}

} // namespace lumora
