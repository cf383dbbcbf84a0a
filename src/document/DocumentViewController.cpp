#include "document/DocumentViewController.h"

#include "document/TextView.h"
#include "platform/NotificationCenter.h"
#include "settings/Settings.h"

#include <QVBoxLayout>

namespace lumora {

DocumentViewController::DocumentViewController(QWidget* parent) : QWidget(parent)
{
    resize(800, 600);
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_textView = new TextView(this);
    m_textView->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_layout->addWidget(m_textView, 1);

    applyTheme();
    applyInfoViewVisibility();

    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.observe(Notifications::themeDidChange, this, [this](const Notification&) { applyTheme(); });
    center.observe(Notifications::infoViewVisibilityDidChange, this, [this](const Notification&) {
        applyInfoViewVisibility();
        if (m_infoView) QMetaObject::invokeMethod(m_infoView, "updateInfo");
    });
}

DocumentViewController::~DocumentViewController() = default;

void DocumentViewController::setInfoView(QWidget* infoView)
{
    if (m_infoView == infoView) return;
    delete m_infoView;
    m_infoView = infoView;
    if (m_infoView) m_infoView->setParent(this);
    applyInfoViewVisibility();
}

void DocumentViewController::applyTheme()
{
    // The background, caret and selection colours, then the focus colours.
    m_textView->updateHighlightAttributes();
}

void DocumentViewController::applyInfoViewVisibility()
{
    if (!m_infoView) return;
    if (Settings::shared().isInfoViewVisible) {
        if (m_layout->indexOf(m_infoView) < 0) m_layout->addWidget(m_infoView, 0);
        m_infoView->show();
    } else {
        m_layout->removeWidget(m_infoView);
        m_infoView->hide();
    }
}

} // namespace lumora
