#include "shell/EditorPlace.h"

#include "document/TextView.h"

#include <QDataStream>
#include <QIODevice>
#include <QScrollBar>
#include <QTextCursor>

#include <algorithm>

namespace lumora {

QByteArray EditorPlace::of(const TextView& view)
{
    const Range selection = view.selectedRange();
    const QTextCursor top = view.cursorForPosition(QPoint(0, 0));
    QByteArray state;
    QDataStream out(&state, QIODevice::WriteOnly);
    out << quint8(1) << qint64(selection.location) << qint64(selection.length) << qint64(top.position())
        << qint32(view.cursorRect(top).top());
    return state;
}

void EditorPlace::restore(TextView& view, const QByteArray& place)
{
    quint8 version = 0;
    qint64 location = 0, length = 0, topPosition = 0;
    qint32 topOffset = 0;
    if (!place.isEmpty()) {
        QDataStream in(place);
        in >> version >> location >> length >> topPosition >> topOffset;
        if (in.status() != QDataStream::Ok || version != 1) version = 0;
    }
    if (version == 0) {
        // No place of its own: the caret at the start.
        view.setSelectedRange(Range(0, 0));
        view.verticalScrollBar()->setValue(0);
        return;
    }
    view.setSelectedRange(Range(std::max<qint64>(0, location), std::max<qint64>(0, length)));
    // By measured heights: a place far down a text still being measured
    // would otherwise land where the estimates put it.
    view.scrollPositionToDistanceFromTop(qsizetype(std::max<qint64>(0, topPosition)), topOffset);
}

} // namespace lumora
