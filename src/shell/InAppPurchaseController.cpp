#include "shell/InAppPurchaseController.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Localization.h"
#include "platform/files/UserDefaults.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace lumora {

namespace {

const QString kSaveCount = QStringLiteral("saveCount");
const QString kLastReviewAsked = QStringLiteral("lastReviewAsked");
constexpr int kProductRequestTimeoutMs = 30000;

InAppPurchaseController* g_installed = nullptr;

QString formattedPrice(const StoreProduct& product)
{
    const QLocale& locale = product.priceLocale;
    // The locale's own symbol for its own currency; another currency by its
    // code, so that an amount is never shown in the wrong money.
    const bool own = product.currencyCode.isEmpty()
                     || locale.currencySymbol(QLocale::CurrencyIsoCode) == product.currencyCode;
    return locale.toCurrencyString(product.price, own ? QString() : product.currencyCode);
}

PlatformError paymentFailed()
{
    return PlatformError(PlatformError::Code::generic, localized("donate.error.payment"),
                         localized("donate.error.payment.info"));
}

} // namespace

InAppPurchaseControllerDelegate::~InAppPurchaseControllerDelegate() = default;

const QStringList& InAppPurchaseController::productIdentifiers()
{
    static const QStringList identifiers{QStringLiteral("org.kelvarin.Lumora.donationS"),
                                         QStringLiteral("org.kelvarin.Lumora.donationM"),
                                         QStringLiteral("org.kelvarin.Lumora.donationL")};
    return identifiers;
}

InAppPurchaseController& InAppPurchaseController::shared()
{
    if (g_installed) return *g_installed;
    // Made on first use, when the first donation window shows; it observes
    // the store from then on, for the rest of the run.
    static InAppPurchaseController* controller = new InAppPurchaseController(Store::standard());
    return *controller;
}

void InAppPurchaseController::setShared(InAppPurchaseController* controller) { g_installed = controller; }

InAppPurchaseController::InAppPurchaseController(Store& store, QObject* parent) : QObject(parent), m_store(&store)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(kProductRequestTimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        requestFailed(PlatformError(PlatformError::Code::generic, localized("donate.error.products")));
    });
    QPointer<InAppPurchaseController> self(this);
    store.setTransactionObserver([self](const std::vector<StoreTransaction>& transactions) {
        if (self) self->transactionsUpdated(transactions);
    });
}

InAppPurchaseController::~InAppPurchaseController()
{
    if (m_store) m_store->setTransactionObserver(nullptr);
    if (g_installed == this) g_installed = nullptr;
}

void InAppPurchaseController::clearDelegate(InAppPurchaseControllerDelegate* delegate)
{
    if (m_delegate == delegate) m_delegate = nullptr;
}

// Products ------------------------------------------------------------------------

void InAppPurchaseController::requestProducts()
{
    m_products.clear();
    m_productsError.reset();
    ++m_request; // an answer to an earlier request no longer counts
    m_timeout.stop();
    if (!m_store || !m_store->canMakePayments()) {
        m_status = Status::unavailable;
        return;
    }
    m_status = Status::loading;
    m_timeout.start();
    const quint64 request = m_request;
    QPointer<InAppPurchaseController> self(this);
    m_store->requestProducts(productIdentifiers(), [self, request](const Store::ProductsResponse& response) {
        if (!self || request != self->m_request || self->m_status != Status::loading) return;
        self->productsReceived(response);
    });
}

void InAppPurchaseController::productsReceived(const Store::ProductsResponse& response)
{
    if (response.error) {
        requestFailed(*response.error);
        return;
    }
    if (!response.invalidProductIdentifiers.isEmpty()) {
        QStringList quoted;
        for (const QString& identifier : response.invalidProductIdentifiers)
            quoted << QLatin1Char('"') + identifier + QLatin1Char('"');
        std::fprintf(stderr, "Lumora: invalid product identifiers: [%s]\n", qPrintable(quoted.join(QStringLiteral(", "))));
    }

    std::vector<Entry> entries;
    for (const StoreProduct& product : response.products) {
        // Only the products asked for have images; anything else the store
        // sends is not ours to show.
        if (!productIdentifiers().contains(product.productIdentifier)) continue;
        if (std::any_of(entries.begin(), entries.end(), [&](const Entry& e) {
                return e.product.productIdentifier == product.productIdentifier;
            }))
            continue;
        QPixmap image;
        image.loadFromData(Bundle::resourceData(product.productIdentifier, QStringLiteral("png")), "PNG");
        entries.push_back(Entry{product, formattedPrice(product), image});
    }
    if (entries.empty()) {
        requestFailed(PlatformError(PlatformError::Code::generic, localized("donate.error.products")));
        return;
    }
    // By amount, not by the text of the price ("$10.99" after "$2.99");
    // equal amounts keep the store's order.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.product.price < b.product.price; });
    m_timeout.stop();
    m_products = std::move(entries);
    m_status = Status::loaded;
    if (m_delegate) m_delegate->productsDidChange();
}

void InAppPurchaseController::requestFailed(const PlatformError& error)
{
    m_timeout.stop();
    ++m_request; // a late answer is dropped
    m_products.clear();
    m_status = Status::failed;
    m_productsError = error;
    if (m_delegate) m_delegate->productsDidChange();
}

// Payments ------------------------------------------------------------------------

void InAppPurchaseController::buy(const QString& productIdentifier)
{
    if (m_store) m_store->addPayment(productIdentifier);
}

bool InAppPurchaseController::isPurchasing(const QString& productIdentifier) const
{
    if (!m_store) return false;
    const auto transactions = m_store->transactions();
    const auto first = std::find_if(transactions.begin(), transactions.end(), [&](const StoreTransaction& t) {
        return t.productIdentifier == productIdentifier;
    });
    return first != transactions.end() && first->state == StoreTransaction::State::purchasing;
}

void InAppPurchaseController::transactionsUpdated(const std::vector<StoreTransaction>& transactions)
{
    for (const StoreTransaction& transaction : transactions) {
        switch (transaction.state) {
        case StoreTransaction::State::purchased:
            if (m_store) m_store->finishTransaction(transaction.identifier);
            notifyProduct(transaction.productIdentifier);
            break;
        case StoreTransaction::State::failed:
            // Every failure but the writer's own cancel is shown; a failure
            // the store gives no reason for is shown too.
            if (!transaction.error || !transaction.error->isCancellation()) {
                PlatformError error = transaction.error ? *transaction.error : paymentFailed();
                if (error.errorDescription.isEmpty()) error.errorDescription = paymentFailed().errorDescription;
                if (m_delegate) m_delegate->presentError(error);
            }
            if (m_store) m_store->finishTransaction(transaction.identifier);
            notifyProduct(transaction.productIdentifier);
            break;
        case StoreTransaction::State::restored:
            if (m_store) m_store->finishTransaction(transaction.identifier);
            break;
        case StoreTransaction::State::purchasing:
        case StoreTransaction::State::deferred:
            notifyProduct(transaction.productIdentifier);
            break;
        }
    }
}

void InAppPurchaseController::notifyProduct(const QString& productIdentifier)
{
    if (m_delegate) m_delegate->productDidChange(productIdentifier);
}

// Review request --------------------------------------------------------------------

void InAppPurchaseController::requestReviewIfNeeded(UserDefaults& defaults, Store& store, const QDateTime& now,
                                                    int delayMilliseconds)
{
    const qint64 stored = std::max<qint64>(defaults.integerValue(kSaveCount).value_or(0), 0);
    const qint64 count = stored < std::numeric_limits<qint64>::max() ? stored + 1 : stored;
    defaults.set(kSaveCount, count);
    if (count < savesBeforeReview) return;
    if (const auto last = defaults.dateValue(kLastReviewAsked); last && last->secsTo(now) <= secondsBetweenReviews)
        return;
    defaults.set(kLastReviewAsked, now);
    QTimer::singleShot(delayMilliseconds, &store, [&store] { store.requestReview(); });
}

} // namespace lumora
