// The donation window, its purchase controller against a scripted store,
// and the review request after many saves.
#include "ScriptedStore.h"
#include "ShellTestSupport.h"

#include "platform/application/ActionDispatcher.h"
#include "platform/foundation/NotificationCenter.h"
#include "settings/Settings.h"
#include "shell/MainMenu.h"
#include "shell/SupportTheDeveloperViewController.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QPushButton>

using namespace lumora;
using namespace lumora::test;

namespace {

using State = StoreTransaction::State;

QStringList identifiersOf(const InAppPurchaseController& controller)
{
    QStringList ids;
    for (const auto& entry : controller.products()) ids << entry.product.productIdentifier.right(1);
    return ids;
}

QStringList buttonTitles(const SupportTheDeveloperViewController& sheet)
{
    QStringList titles;
    for (int row = 0; row < sheet.rowCount(); ++row) titles << sheet.buyButton(row)->text();
    return titles;
}

SupportTheDeveloperViewController* sheetIn(QWidget* window)
{
    return window ? window->findChild<SupportTheDeveloperViewController*>() : nullptr;
}

// The controller the application's windows use, played by a scripted store.
struct InstalledController {
    ScriptedStore store;
    InAppPurchaseController controller{store};
    InstalledController() { InAppPurchaseController::setShared(&controller); }
    ~InstalledController()
    {
        closeWindows<SupportTheDeveloperViewController>();
        InAppPurchaseController::setShared(nullptr);
    }
};

} // namespace

TEST(InAppPurchase, ProductsAreSortedByAmountAndEachRequestReplacesTheLast)
{
    ScriptedStore store;
    InAppPurchaseController controller(store);
    RecordingDelegate delegate;
    controller.setDelegate(&delegate);
    EXPECT_TRUE(store.isObserved());

    controller.requestProducts();
    ASSERT_EQ(store.requests.size(), 1u);
    EXPECT_EQ(store.requests[0].identifiers, InAppPurchaseController::productIdentifiers());
    EXPECT_EQ(controller.status(), InAppPurchaseController::Status::loading);

    // A second request before the first is answered: the first answer no
    // longer counts, so no product shows twice.
    controller.requestProducts();
    store.answer(0, threeProducts());
    EXPECT_TRUE(controller.products().empty());
    EXPECT_EQ(delegate.productsChanges, 0);
    store.answer(1, threeProducts());
    // By amount: $10.99 comes after $2.99, whatever the text order.
    EXPECT_EQ(identifiersOf(controller), (QStringList{"S", "M", "L"}));
    EXPECT_EQ(controller.products()[0].price, QStringLiteral("$2.99"));
    EXPECT_EQ(controller.products()[2].price, QStringLiteral("$10.99"));
    EXPECT_FALSE(controller.products()[0].image.isNull());
    EXPECT_EQ(controller.status(), InAppPurchaseController::Status::loaded);
    EXPECT_EQ(delegate.productsChanges, 1);
    store.answer(1, threeProducts()); // a repeated answer changes nothing
    EXPECT_EQ(controller.products().size(), 3u);

    // Products nobody asked for, repeats and rejected identifiers are left
    // out; the others show. A price in another currency names it.
    controller.requestProducts();
    EXPECT_TRUE(controller.products().empty());
    StoreProduct euros = product("M", 4.99);
    euros.currencyCode = "EUR";
    StoreProduct stranger = product("S", 1.0);
    stranger.productIdentifier = "org.example.other";
    store.answer(2, {{euros, stranger, product("M", 9.0)}, {"org.kelvarin.Lumora.donationS"}, {}});
    ASSERT_EQ(identifiersOf(controller), QStringList{"M"});
    EXPECT_TRUE(controller.products()[0].price.contains("EUR")) << controller.products()[0].price.toStdString();
}

TEST(InAppPurchase, NothingToShowIsSaidAndNeverLoadsForever)
{
    ScriptedStore store;
    InAppPurchaseController controller(store);
    RecordingDelegate delegate;
    controller.setDelegate(&delegate);

    // Payments not allowed: nothing is asked.
    store.paymentsAllowed = false;
    controller.requestProducts();
    EXPECT_TRUE(store.requests.empty());
    EXPECT_EQ(controller.status(), InAppPurchaseController::Status::unavailable);
    // This build's own store takes none.
    EXPECT_FALSE(Store::standard().canMakePayments());

    store.paymentsAllowed = true;
    controller.requestProducts();
    store.answer(0, {{}, {}, PlatformError(PlatformError::Code::generic, "The store is closed.")});
    EXPECT_EQ(controller.status(), InAppPurchaseController::Status::failed);
    EXPECT_EQ(controller.productsError()->errorDescription, QStringLiteral("The store is closed."));
    EXPECT_EQ(delegate.productsChanges, 1);

    controller.requestProducts();
    store.answer(1, {{}, InAppPurchaseController::productIdentifiers(), {}});
    EXPECT_EQ(controller.status(), InAppPurchaseController::Status::failed);

    // No answer at all: the request gives up; a late answer is dropped.
    controller.setProductRequestTimeout(10);
    controller.requestProducts();
    EXPECT_TRUE(QTest::qWaitFor([&] { return controller.status() == InAppPurchaseController::Status::failed; },
                                test::patience));
    store.answer(2, threeProducts());
    EXPECT_TRUE(controller.products().empty());
}

TEST(InAppPurchase, PaymentsFinishAndEveryFailureButACancelIsShown)
{
    ScriptedStore store;
    InAppPurchaseController controller(store);
    RecordingDelegate delegate;
    controller.setDelegate(&delegate);
    const QString s = "org.kelvarin.Lumora.donationS", m = "org.kelvarin.Lumora.donationM";

    controller.buy(s);
    EXPECT_EQ(store.payments, QStringList{s});
    EXPECT_TRUE(controller.isPurchasing(s));
    EXPECT_FALSE(controller.isPurchasing(m));
    store.update(s, State::purchased);
    EXPECT_EQ(store.finished.size(), 1u);
    EXPECT_FALSE(controller.isPurchasing(s));
    EXPECT_EQ(delegate.productChanges, QStringList{s});

    const struct {
        std::optional<PlatformError> error;
        QString shown;
    } failures[] = {
        {PlatformError::cancelled(), QString()},
        {PlatformError(PlatformError::Code::generic, "The card was declined."), "The card was declined."},
        {std::nullopt, "The donation couldn’t be completed."},
        {PlatformError(PlatformError::Code::generic, QString()), "The donation couldn’t be completed."},
    };
    for (const auto& failure : failures) {
        delegate.errors.clear();
        controller.buy(m);
        store.update(m, State::failed, failure.error);
        EXPECT_EQ(delegate.errors, failure.shown.isEmpty() ? QStringList() : QStringList{failure.shown});
        EXPECT_FALSE(controller.isPurchasing(m)); // finished: the same donation can be tried again
        EXPECT_EQ(delegate.productChanges.last(), m);
    }

    // A restored transaction is finished and refreshes nothing.
    const qsizetype changes = delegate.productChanges.size();
    store.push({99, s, State::restored, std::nullopt});
    EXPECT_EQ(store.finished.back(), 99u);
    EXPECT_EQ(delegate.productChanges.size(), changes);

    // A delegate that goes away is no longer told anything.
    controller.clearDelegate(&delegate);
    controller.buy(s);
    store.update(s, State::failed, PlatformError(PlatformError::Code::generic, "Nobody hears this."));
    EXPECT_TRUE(delegate.errors.isEmpty() || delegate.errors.last() != "Nobody hears this.");
}

TEST(InAppPurchase, TheReviewRequestCountsSavesAndAsksOnceAYear)
{
    auto defaults = std::make_unique<UserDefaults>(freshDirectory("review") + "/defaults.json");
    ScriptedStore store;
    const QDateTime now = QDateTime::currentDateTime();
    const auto save = [&](const QDateTime& at) {
        InAppPurchaseController::requestReviewIfNeeded(*defaults, store, at, 0);
        QCoreApplication::processEvents(); // the request is made a moment later
        QCoreApplication::processEvents();
    };

    defaults->set("saveCount", 497);
    save(now);
    save(now);
    EXPECT_EQ(defaults->integerValue("saveCount"), 499);
    EXPECT_EQ(store.reviewRequests, 0);
    EXPECT_FALSE(defaults->contains("lastReviewAsked"));

    save(now); // the 500th, never asked before
    EXPECT_EQ(store.reviewRequests, 1);
    EXPECT_EQ(defaults->dateValue("lastReviewAsked")->toSecsSinceEpoch(), now.toSecsSinceEpoch());
    save(now.addDays(364)); // within a year
    EXPECT_EQ(store.reviewRequests, 1);
    save(now.addSecs(InAppPurchaseController::secondsBetweenReviews + 1));
    EXPECT_EQ(store.reviewRequests, 2);
    EXPECT_EQ(defaults->integerValue("saveCount"), 502);

    // A stored value that is not a date counts as never asked; a count that
    // is not a number starts again from nothing.
    defaults->set("lastReviewAsked", "yesterday");
    save(now);
    EXPECT_EQ(store.reviewRequests, 3);
    defaults->set("saveCount", "many");
    save(now);
    EXPECT_EQ(defaults->integerValue("saveCount"), 1);

    // The saves of documents count.
    Shell shell;
    const qint64 before = UserDefaults::standard().integerValue("saveCount").value_or(0);
    const QString path = freshDirectory("review-save") + "/note.txt";
    writeFile(path, "One");
    Document* document = shell.open(path);
    ASSERT_TRUE(document);
    document->data().textStorage().replaceCharacters(Range(3, 0), QStringLiteral(" two"));
    ASSERT_TRUE(document->save());
    EXPECT_EQ(UserDefaults::standard().integerValue("saveCount"), before + 1);
}

TEST(DonationSheet, ListsTheProductsWithASpinnerUntilTheyCome)
{
    Shell shell(true);
    InstalledController installed;
    ScriptedStore& store = installed.store;

    // The menu item is there, and opens a window each time.
    MenuItem* donate = shell.controller->mainMenu()->topLevelMenu(MainMenu::app).itemWithCommand(Command::donate);
    ASSERT_TRUE(donate);
    EXPECT_TRUE(ActionDispatcher::instance().validateItem(*donate));
    EXPECT_FALSE(donate->isHidden());
    ASSERT_TRUE(ActionDispatcher::instance().send(Command::donate, donate));
    QWidget* window = QApplication::activeWindow() ? QApplication::activeWindow() : nullptr;
    SupportTheDeveloperViewController* sheet = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* found = sheetIn(w); found && w->isVisible()) sheet = found, window = w;
    ASSERT_TRUE(sheet);
    EXPECT_EQ(installed.controller.delegate(), sheet);
    ASSERT_EQ(store.requests.size(), 1u);

    // Loading: the spinner turns over the place of the list.
    EXPECT_FALSE(sheet->productList()->isHidden());
    EXPECT_TRUE(sheet->loadingIndicator()->isVisible());
    EXPECT_TRUE(sheet->loadingIndicator()->isSpinning());
    EXPECT_EQ(sheet->rowCount(), 0);
    EXPECT_TRUE(sheet->statusLine()->isHidden());
    EXPECT_EQ(sheet->size(), QSize(480, 400));

    store.answer(0, threeProducts());
    EXPECT_FALSE(sheet->loadingIndicator()->isVisible());
    ASSERT_EQ(sheet->rowCount(), 3);
    EXPECT_EQ(buttonTitles(*sheet), (QStringList{"Give $2.99", "Give $4.99", "Give $10.99"}));
    const QLabel* text = sheet->buyButton(0)->parentWidget()->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_TRUE(text);
    EXPECT_TRUE(sheet->buyButton(0)->parentWidget()->findChildren<QLabel*>().size() >= 2); // image and text

    // A row's button pays for exactly that row's product; only that row
    // shows the payment under way.
    QTest::mouseClick(sheet->buyButton(1), Qt::LeftButton);
    EXPECT_EQ(store.payments, QStringList{"org.kelvarin.Lumora.donationM"});
    EXPECT_EQ(buttonTitles(*sheet), (QStringList{"Give $2.99", "Processing…", "Give $10.99"}));
    EXPECT_FALSE(sheet->buyButton(1)->isEnabled());
    store.update("org.kelvarin.Lumora.donationM", State::purchased);
    EXPECT_EQ(buttonTitles(*sheet)[1], QStringLiteral("Give $4.99"));
    EXPECT_TRUE(sheet->buyButton(1)->isEnabled());

    // A failure is shown once; a cancel is not.
    sheet->donate(2);
    store.update("org.kelvarin.Lumora.donationL", State::failed,
                 PlatformError(PlatformError::Code::generic, "The card was declined."));
    sheet->donate(0);
    store.update("org.kelvarin.Lumora.donationS", State::failed, PlatformError::cancelled());
    EXPECT_EQ(shell.dialogs.errors, QStringList{"The card was declined."});
    EXPECT_EQ(buttonTitles(*sheet), (QStringList{"Give $2.99", "Give $4.99", "Give $10.99"}));

    // A second window asks again and is the one that hears the store.
    QWidget* second = shell.controller->showSupportWindow();
    auto* newer = sheetIn(second);
    ASSERT_TRUE(newer);
    EXPECT_EQ(installed.controller.delegate(), newer);
    EXPECT_EQ(store.requests.size(), 2u);
    store.answer(1, threeProducts());
    EXPECT_EQ(newer->rowCount(), 3);
    newer->donate(0);
    EXPECT_EQ(buttonTitles(*newer)[0], QStringLiteral("Processing…"));

    // The close button closes its own window only.
    QTest::mouseClick(newer->closeButton(), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(installed.controller.delegate(), nullptr);

    // The notification opens another.
    const auto sheets = [] {
        const QWidgetList windows = QApplication::topLevelWidgets();
        return std::count_if(windows.begin(), windows.end(), sheetIn);
    };
    const auto before = sheets();
    NotificationCenter::defaultCenter().post(DocumentController::supportTheDeveloperNotification);
    EXPECT_EQ(sheets(), before + 1);
}

TEST(DonationSheet, WithoutAStoreOneCalmLineSaysSo)
{
    Shell shell;
    QWidget* window = SupportTheDeveloperViewController::showSupportWindow(InAppPurchaseController::shared());
    auto* sheet = sheetIn(window);
    ASSERT_TRUE(sheet);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_TRUE(sheet->productList()->isHidden());
    EXPECT_FALSE(sheet->loadingIndicator()->isVisible());
    EXPECT_FALSE(sheet->loadingIndicator()->isSpinning());
    EXPECT_TRUE(sheet->statusLine()->isVisible());
    EXPECT_EQ(sheet->statusLine()->text(), QStringLiteral("Donations aren’t available in this build of Lumora."));
    EXPECT_TRUE(sheet->closeButton()->isVisible());
    // The line sits beside the close button, in a window no taller than
    // the two.
    EXPECT_LT(window->height(), 120);
    EXPECT_LT(qAbs(sheet->statusLine()->geometry().center().y() - sheet->closeButton()->geometry().center().y()), 8);
    if (const QByteArray dir = qgetenv("LUMORA_SCREENSHOT_DIR"); !dir.isEmpty())
        window->grab().save(QDir(QString::fromLocal8Bit(dir)).filePath("donation-unavailable.png"));
    QTest::mouseClick(sheet->closeButton(), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());

    // File ▸ Close closes it as well.
    QWidget* another = SupportTheDeveloperViewController::showSupportWindow(InAppPurchaseController::shared());
    ASSERT_TRUE(ActionDispatcher::instance().send(Command::performClose, nullptr, sheetIn(another)->closeButton()));
    EXPECT_FALSE(another->isVisible());
}

TEST(DonationSheet, LooksFinishedInLightAndDark)
{
    Shell shell(true);
    InstalledController installed;
    Settings& settings = Settings::shared();
    const QDir dir(QString::fromLocal8Bit(qgetenv("LUMORA_SCREENSHOT_DIR")));
    for (const char* id : {"light", "dark"}) {
        for (const auto& theme : settings.themes())
            if (theme->id == id) settings.setTheme(theme);
        QWidget* window = shell.controller->showSupportWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        const auto shot = [&](const QString& name) {
            const QImage image = window->grab().toImage();
            EXPECT_EQ(image.pixelColor(4, 4).lightness() < 128, settings.theme()->isDark) << name.toStdString();
            if (!dir.path().isEmpty() && dir.path() != ".") image.save(dir.filePath(name));
        };
        shot(QStringLiteral("donation-loading-%1.png").arg(id));
        installed.store.answer(installed.store.requests.size() - 1, threeProducts());
        sheetIn(window)->donate(1);
        shot(QStringLiteral("donation-sheet-%1.png").arg(id));
        delete window;
    }
    settings.setTheme(settings.themes().front());
}
