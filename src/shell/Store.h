#pragma once

#include "platform/foundation/PlatformError.h"

#include <QLocale>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace lumora {

// A product the store offers, with what the store says of it.
struct StoreProduct {
    QString productIdentifier;
    QString localizedTitle;
    QString localizedDescription;
    // The amount in the currency's units, and the currency: its ISO 4217
    // code, and the locale whose format the price is written in.
    double price = 0.0;
    QString currencyCode;
    QLocale priceLocale;
};

// A payment the store is working on or has done.
struct StoreTransaction {
    enum class State { purchasing, purchased, failed, restored, deferred };

    quint64 identifier = 0;
    QString productIdentifier;
    State state = State::purchasing;
    // Why a failed transaction failed; a cancellation by the user has the
    // code cancelled. May be absent.
    std::optional<PlatformError> error;
};

// The service that sells the donation products and asks for a review. This
// platform has none: the production store (standard()) sells nothing and
// says so through canMakePayments(); tests play one from a script.
//
// Every callback runs on the main thread, after the call that started it
// has returned.
class Store : public QObject {
    Q_OBJECT

public:
    struct ProductsResponse {
        std::vector<StoreProduct> products;
        QStringList invalidProductIdentifiers;
        // The request failed as a whole.
        std::optional<PlatformError> error;
    };
    using ProductsCallback = std::function<void(const ProductsResponse&)>;
    using TransactionsCallback = std::function<void(const std::vector<StoreTransaction>&)>;

    using QObject::QObject;
    ~Store() override;

    // The store of this build: it offers no products and takes no payments.
    static Store& standard();

    // Whether payments can be made here at all.
    virtual bool canMakePayments() const = 0;
    // Asks for the products of those identifiers; the callback runs once.
    virtual void requestProducts(const QStringList& productIdentifiers, ProductsCallback callback) = 0;
    // Starts paying for a product; its transactions reach the observer.
    virtual void addPayment(const QString& productIdentifier) = 0;
    // Takes a transaction out of the queue.
    virtual void finishTransaction(quint64 identifier) = 0;
    // The transactions not finished yet, oldest first.
    virtual std::vector<StoreTransaction> transactions() const = 0;
    // The one observer of transaction updates (none stops observing).
    virtual void setTransactionObserver(TransactionsCallback observer) = 0;
    // Asks the writer for a review, where the store may decide to.
    virtual void requestReview() = 0;
};

} // namespace lumora
