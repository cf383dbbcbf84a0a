#pragma once

#include "platform/foundation/PlatformError.h"
#include "shell/Store.h"

#include <QDateTime>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <optional>
#include <vector>

namespace lumora {

class UserDefaults;

// What the donation window hears from the purchase controller, always on
// the main thread.
class InAppPurchaseControllerDelegate {
public:
    virtual ~InAppPurchaseControllerDelegate();
    // The product list (or the status) was replaced.
    virtual void productsDidChange() = 0;
    // A payment of that product changed state.
    virtual void productDidChange(const QString& productIdentifier) = 0;
    // A payment failed for a reason other than the writer cancelling it.
    virtual void presentError(const PlatformError& error) = 0;
};

// The voluntary donation: asks the store for the three donation products,
// keeps them sorted by price, starts payments and follows them. A donation
// unlocks nothing and is not remembered: each payment is finished and its
// product can be given again.
//
// Also the review request after many saves (requestReviewIfNeeded).
//
// One for the application (shared()), made when the donation window is
// first shown; tests make their own over a scripted store. Main thread only.
class InAppPurchaseController : public QObject {
    Q_OBJECT

public:
    // "org.kelvarin.Lumora.donationS", "...M", "...L", in this order.
    static const QStringList& productIdentifiers();

    struct Entry {
        StoreProduct product;
        QString price; // the amount as currency, in the product's locale
        QPixmap image; // the bundled image named by the product identifier
    };

    enum class Status {
        idle,        // nothing asked yet
        loading,     // a request runs
        loaded,      // products holds the answer
        unavailable, // this store takes no payments
        failed,      // the request failed, timed out or found nothing to offer
    };

    // The application's controller, over the standard store.
    static InAppPurchaseController& shared();
    // Tests: the controller shared() gives (not owned; none restores the
    // application's).
    static void setShared(InAppPurchaseController* controller);

    explicit InAppPurchaseController(Store& store, QObject* parent = nullptr);
    ~InAppPurchaseController() override;

    Store& store() const { return *m_store; }

    // The window that shows the products: the one shown last. Not owned; a
    // delegate that goes away clears itself (clearDelegate).
    InAppPurchaseControllerDelegate* delegate() const { return m_delegate; }
    void setDelegate(InAppPurchaseControllerDelegate* delegate) { m_delegate = delegate; }
    void clearDelegate(InAppPurchaseControllerDelegate* delegate);

    // Sorted by amount, cheapest first; empty while a request runs.
    const std::vector<Entry>& products() const { return m_products; }
    Status status() const { return m_status; }
    // Why the last request failed (failed only).
    const std::optional<PlatformError>& productsError() const { return m_productsError; }

    // Asks for the products again: the list empties, and a request still
    // running is forgotten (its answer is dropped). When the store takes no
    // payments nothing is asked and the status says so.
    void requestProducts();
    // How long a request may run before it counts as failed.
    void setProductRequestTimeout(int milliseconds) { m_timeout.setInterval(milliseconds); }

    // Starts a payment for the product.
    void buy(const QString& productIdentifier);
    // Whether a payment of the product is under way.
    bool isPurchasing(const QString& productIdentifier) const;

    // Counts a save under "saveCount" (every call counts). From the 500th
    // save on, at most once in 365 days ("lastReviewAsked", a date; any
    // other value counts as never), the date is stored and, after the
    // delay, the store is asked for a review.
    static void requestReviewIfNeeded(UserDefaults& defaults, Store& store, const QDateTime& now,
                                      int delayMilliseconds = 2000);
    static constexpr qint64 savesBeforeReview = 500;
    static constexpr qint64 secondsBetweenReviews = 31536000;

private:
    void productsReceived(const Store::ProductsResponse& response);
    void requestFailed(const PlatformError& error);
    void transactionsUpdated(const std::vector<StoreTransaction>& transactions);
    void notifyProduct(const QString& productIdentifier);

    QPointer<Store> m_store;
    InAppPurchaseControllerDelegate* m_delegate = nullptr;
    std::vector<Entry> m_products;
    Status m_status = Status::idle;
    std::optional<PlatformError> m_productsError;
    quint64 m_request = 0; // the request whose answer counts
    QTimer m_timeout;
};

} // namespace lumora
