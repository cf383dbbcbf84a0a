#include "platform/text/SafeTextDocument.h"

#include <QCoreApplication>
#include <QImage>
#include <QPixmap>
#include <QThread>

namespace lumora {

SafeTextDocument::SafeTextDocument(QObject* parent) : QTextDocument(parent) {}

SafeTextDocument::~SafeTextDocument() = default;

QImage SafeTextDocument::missingImage()
{
    // The icon Qt itself shows for an image it cannot find.
    static const QImage image = [] {
        QImage icon(QStringLiteral(":/qt-project.org/styles/commonstyle/images/file-16.png"));
        if (icon.isNull()) {
            icon = QImage(1, 1, QImage::Format_ARGB32);
            icon.fill(Qt::transparent);
        }
        return icon;
    }();
    return image;
}

QVariant SafeTextDocument::loadResource(int type, const QUrl& name)
{
    QVariant value = m_loader ? m_loader(type, name) : QVariant();
    if (type != QTextDocument::ImageResource) return value;
    QImage image;
    if (value.userType() == QMetaType::QImage) image = value.value<QImage>();
    else if (value.userType() == QMetaType::QByteArray) image = QImage::fromData(value.toByteArray());
    else if (value.userType() == QMetaType::QPixmap) return value;
    if (image.isNull()) image = missingImage();
    // Kept, so the page asks once: Qt wants a pixmap on the main thread
    // and an image elsewhere.
    const QCoreApplication* app = QCoreApplication::instance();
    const bool mainThread = app && QThread::currentThread() == app->thread();
    const QVariant answer = mainThread ? QVariant(QPixmap::fromImage(image)) : QVariant(image);
    addResource(type, name, answer);
    return answer;
}

} // namespace lumora
