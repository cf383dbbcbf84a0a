#include "document/PrintAccessoryViewController.h"

#include "document/PrintView.h"
#include "platform/files/UserDefaults.h"
#include "platform/foundation/Localization.h"
#include "widgets/ViewUtilities.h"

#include <QCheckBox>

namespace lumora {

namespace {
const QString kApplyMarkdown = QStringLiteral("applyMarkdown");
}

PrintAccessoryViewController::PrintAccessoryViewController(QWidget* parent) : QWidget(parent)
{
    m_checkbox = views::checkbox(localized("print.applyMarkdown"), [this](bool checked) {
        UserDefaults::standard().set(kApplyMarkdown, checked);
        setApplyMarkdown(checked);
    });
    m_checkbox->setObjectName(kApplyMarkdown);
    m_applyMarkdown = UserDefaults::standard().boolValue(kApplyMarkdown);
    m_checkbox->setChecked(m_applyMarkdown);
    views::pin(m_checkbox, this, QMargins(4, 4, 4, 4));
}

void PrintAccessoryViewController::setApplyMarkdown(bool applyMarkdown)
{
    m_applyMarkdown = applyMarkdown;
    if (printView) printView->delegate().printInfo.applyMarkdown = applyMarkdown;
    emit applyMarkdownChanged(applyMarkdown);
}

} // namespace lumora
