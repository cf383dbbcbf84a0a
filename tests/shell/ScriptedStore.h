#pragma once

#include "shell/InAppPurchaseController.h"
#include "shell/Store.h"

#include <QLocale>
#include <QStringList>

#include <vector>

namespace lumora::test {

// A store played by the test: it notes what it is asked, and answers
// product requests and moves payments along when the test says so.
class ScriptedStore : public Store {
public:
    bool paymentsAllowed = true;
    struct Request {
        QStringList identifiers;
        ProductsCallback callback;
    };
    std::vector<Request> requests;
    QStringList payments;
    std::vector<StoreTransaction> queue;
    std::vector<quint64> finished;
    int reviewRequests = 0;

    bool canMakePayments() const override { return paymentsAllowed; }
    void requestProducts(const QStringList& identifiers, ProductsCallback callback) override
    {
        requests.push_back({identifiers, std::move(callback)});
    }
    void addPayment(const QString& productIdentifier) override
    {
        payments << productIdentifier;
        queue.push_back({++m_next, productIdentifier, StoreTransaction::State::purchasing, std::nullopt});
    }
    void finishTransaction(quint64 identifier) override
    {
        finished.push_back(identifier);
        std::erase_if(queue, [&](const StoreTransaction& t) { return t.identifier == identifier; });
    }
    std::vector<StoreTransaction> transactions() const override { return queue; }
    void setTransactionObserver(TransactionsCallback observer) override { m_observer = std::move(observer); }
    void requestReview() override { ++reviewRequests; }

    bool isObserved() const { return bool(m_observer); }
    // Answers request i.
    void answer(size_t i, const ProductsResponse& response) { requests.at(i).callback(response); }
    // The transaction of a product moves to state; the observer hears of it.
    void update(const QString& productIdentifier, StoreTransaction::State state,
                std::optional<PlatformError> error = std::nullopt)
    {
        for (StoreTransaction& t : queue) {
            if (t.productIdentifier != productIdentifier) continue;
            t.state = state;
            t.error = std::move(error);
            const StoreTransaction copy = t;
            if (m_observer) m_observer({copy});
            return;
        }
    }
    // A transaction the store brings up by itself (restored, from elsewhere).
    void push(const StoreTransaction& transaction)
    {
        queue.push_back(transaction);
        if (m_observer) m_observer({transaction});
    }

private:
    quint64 m_next = 0;
    TransactionsCallback m_observer;
};

inline StoreProduct product(const char* size, double price, const char* title = "A coffee")
{
    return StoreProduct{QStringLiteral("org.kelvarin.Lumora.donation") + QLatin1String(size), QString::fromUtf8(title),
                        QStringLiteral("Keeps the writing going."), price, QStringLiteral("USD"),
                        QLocale(QLocale::English, QLocale::UnitedStates)};
}

// The three products, cheapest last, as a store may send them.
inline Store::ProductsResponse threeProducts()
{
    return {{product("L", 10.99, "A dinner"), product("S", 2.99, "A coffee"), product("M", 4.99, "A lunch")}, {}, {}};
}

// Notes what the controller tells its delegate.
struct RecordingDelegate : InAppPurchaseControllerDelegate {
    int productsChanges = 0;
    QStringList productChanges;
    QStringList errors;
    void productsDidChange() override { ++productsChanges; }
    void productDidChange(const QString& identifier) override { productChanges << identifier; }
    void presentError(const PlatformError& error) override { errors << error.errorDescription; }
};

} // namespace lumora::test
