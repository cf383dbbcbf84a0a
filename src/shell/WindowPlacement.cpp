#include "shell/WindowPlacement.h"

#include "settings/Settings.h"
#include "widgets/ViewUtilities.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace lumora {

namespace {

const QString kWindowFrame = QStringLiteral("documentWindow");
const QString kPreviewWindowFrame = QStringLiteral("previewWindow");
// The gap between a document window and a preview placed beside it.
constexpr int kPreviewGap = 12;
// A new window without a saved frame.
constexpr QSize kDefaultSize(1000, 740);
// How far a new window steps away from one in the same place.
constexpr int kCascade = 28;

} // namespace

void WindowPlacement::placeNewWindow(QWidget* window, const std::vector<QPoint>& taken)
{
    window->resize(kDefaultSize);
    views::restoreFrame(window, kWindowFrame);
    // A window that would cover another exactly steps aside, and stays on
    // its screen.
    QScreen* screen = QGuiApplication::screenAt(window->geometry().center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen && !window->isMaximized() && !window->isFullScreen()) {
        const QRect frame = cascadedFrame(window->geometry(), taken, screen->availableGeometry());
        if (frame != window->geometry()) window->setGeometry(frame);
    }
}

QRect WindowPlacement::frameForEditorSize(const QRect& frame, const QRect& screenArea, double editorSize,
                                          int sidePanesWidth)
{
    const int screen = screenArea.width();
    const int width = editorSize <= 0 ? screen : std::min(screen, sidePanesWidth + int(std::lround(editorSize)));
    // The window keeps its place in the free room beside it: centred when
    // it had none, else at the same fraction of it.
    const int room = screen - frame.width();
    const int offset = frame.x() - screenArea.x();
    double x = room <= 0 ? (screen - width) * 0.5 : double(screen - width) / room * offset;
    x = std::clamp(x, 0.0, double(screen - width));
    return QRect(screenArea.x() + int(std::lround(x)), frame.y(), width, frame.height());
}

QRect WindowPlacement::cascadedFrame(const QRect& frame, const std::vector<QPoint>& taken, const QRect& area)
{
    const QSize size = frame.size().boundedTo(area.size());
    const int right = area.x() + area.width() - size.width();
    const int bottom = area.y() + area.height() - size.height();
    QPoint at(std::clamp(frame.x(), area.x(), right), std::clamp(frame.y(), area.y(), bottom));
    // Each step finds a new place or comes back round; a screen too full of
    // windows to leave one free keeps the last place tried.
    for (size_t step = 0; step <= taken.size(); ++step) {
        if (std::find(taken.begin(), taken.end(), at) == taken.end()) break;
        at += QPoint(kCascade, kCascade);
        if (at.x() > right) at.setX(area.x());
        if (at.y() > bottom) at.setY(area.y());
    }
    return QRect(at, size);
}

void WindowPlacement::resizeToEditorSize(QWidget* window, int sidePanesWidth)
{
    QScreen* screen = window->screen();
    if (!screen) screen = QGuiApplication::screenAt(window->geometry().center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect frame = frameForEditorSize(window->geometry(), screen->availableGeometry(),
                                           Settings::shared().editorSize(), sidePanesWidth);
    if (window->isMaximized()) window->showNormal();
    window->setGeometry(frame);
}

bool WindowPlacement::restorePreviewFrame(QWidget* preview)
{
    return views::restoreFrame(preview, kPreviewWindowFrame);
}

QRect WindowPlacement::previewFrameBeside(const QRect& window, int previewWidth, const QRect& area)
{
    const int width = std::min(previewWidth, area.width());
    const int height = std::min(window.height(), area.height());
    int x = window.right() + 1 + kPreviewGap;
    if (x + width > area.right() + 1) x = window.left() - kPreviewGap - width;
    if (x < area.left()) x = area.right() + 1 - width;
    const int y = std::clamp(window.top(), area.top(), area.bottom() + 1 - height);
    return QRect(x, y, width, height);
}

void WindowPlacement::placePreviewBeside(QWidget* preview, const QWidget* window)
{
    const QRect frame = window->frameGeometry();
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : frame;
    const QRect beside = previewFrameBeside(frame, preview->frameGeometry().width(), area);
    // The frame's decoration is the window system's; the preview's own
    // size is what is set.
    const QSize decoration = preview->frameGeometry().size() - preview->size();
    preview->resize(beside.size() - decoration);
    preview->move(beside.topLeft());
}

} // namespace lumora
