#include "document/EncodingView.h"

#include "platform/files/Encodings.h"
#include "platform/files/UserDefaults.h"
#include "platform/foundation/Localization.h"
#include "widgets/ViewUtilities.h"

#include <QComboBox>
#include <QHBoxLayout>

namespace lumora {

namespace {
const QString kSaveEncoding = QStringLiteral("saveEncoding");
constexpr qint64 kAutomatic = -1;
} // namespace

QWidget* EncodingView::makeEncodingAccessoryView()
{
    UserDefaults& defaults = UserDefaults::standard();
    if (!defaults.object(kSaveEncoding).isValid()) defaults.set(kSaveEncoding, kAutomatic);

    QList<views::PopUpItem> items{{localized("settings.encoding.auto"), kAutomatic}};
    for (StringEncoding encoding : Encodings::available())
        items.append({Encodings::displayName(encoding), qint64(encoding)});
    QComboBox* popUp = views::popUpButton(items);
    popUp->setObjectName(kSaveEncoding);
    popUp->setCurrentIndex(popUp->findData(defaults.integerValue(kSaveEncoding).value_or(kAutomatic)));
    QObject::connect(popUp, &QComboBox::activated, popUp, [popUp](int index) {
        UserDefaults::standard().set(kSaveEncoding, popUp->itemData(index).toLongLong());
    });

    auto* container = new QWidget;
    auto* row = new QHBoxLayout(container);
    row->setContentsMargins(0, 4, 0, 0);
    row->setSpacing(8);
    row->addWidget(views::label(localized("settings.encoding")));
    row->addWidget(popUp);
    row->addStretch(1);
    return container;
}

} // namespace lumora
