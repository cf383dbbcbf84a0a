#include "shell/Store.h"


namespace lumora {

namespace {

// No shop on this platform: nothing to buy, nobody to ask for a review.
class UnavailableStore : public Store {
public:
    bool canMakePayments() const override { return false; }
    void requestProducts(const QStringList& identifiers, ProductsCallback callback) override
    {
        QMetaObject::invokeMethod(
            this,
            [identifiers, callback = std::move(callback)] {
                callback(ProductsResponse{{}, identifiers, std::nullopt});
            },
            Qt::QueuedConnection);
    }
    void addPayment(const QString&) override {}
    void finishTransaction(quint64) override {}
    std::vector<StoreTransaction> transactions() const override { return {}; }
    void setTransactionObserver(TransactionsCallback) override {}
    void requestReview() override {}
};

} // namespace

Store::~Store() = default;

Store& Store::standard()
{
    static UnavailableStore* store = new UnavailableStore; // lives as long as the process
    return *store;
}

} // namespace lumora
