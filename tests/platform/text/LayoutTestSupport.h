#pragma once

#include "platform/text/Attributes.h"
#include "platform/text/EditorLayout.h"
#include "platform/text/TextMirror.h"
#include "platform/text/TextStorage.h"
#include "support/Patience.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QTextBlock>
#include <QTextDocument>

#include <memory>
#include <vector>

// What the tests of the mirror and its layout share: the looks they give a
// text, mirrors shown in a column, painting and measuring as a view would,
// and waiting for the background layout.
namespace lumora::test {

inline QFont font(int px)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(px);
    return f;
}

// Body text: dark, indented by indent on both sides, with spacing after
// each paragraph.
inline Attributes body(int px = 17, double indent = 40, double spacing = 6)
{
    ParagraphStyle p;
    p.headIndent = p.firstLineHeadIndent = indent;
    p.tailIndent = -indent;
    p.paragraphSpacing = spacing;
    return Attributes{{AttributeKey::Font, font(px)},
                      {AttributeKey::ForegroundColor, Color(0.1, 0.1, 0.1)},
                      {AttributeKey::ParagraphStyle, p}};
}

inline EditorLayout* layoutOf(const TextMirror& mirror) { return mirror.layout(); }

// A mirror of storage in a column of width, laid out as it is asked.
inline std::unique_ptr<TextMirror> mirrorOf(TextStorage& storage, double width)
{
    auto mirror = std::make_unique<TextMirror>();
    mirror->setStorage(&storage);
    mirror->document()->setTextWidth(width);
    return mirror;
}

// The same with every block measured at once.
inline std::unique_ptr<TextMirror> measuredMirror(TextStorage& storage, double width)
{
    auto mirror = mirrorOf(storage, width);
    mirror->layout()->layoutEverything();
    return mirror;
}

// Paints the part of the document between top and bottom, as a view would.
inline void paint(TextMirror& mirror, double top, double bottom)
{
    QImage image(400, int(bottom - top) + 1, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.translate(0, -top);
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = QRectF(0, top, 400, bottom - top);
    mirror.document()->documentLayout()->draw(&painter, context);
}

// Where each block stands.
inline std::vector<QRectF> rects(const TextMirror& mirror)
{
    std::vector<QRectF> out;
    for (QTextBlock b = mirror.document()->begin(); b.isValid(); b = b.next())
        out.push_back(mirror.document()->documentLayout()->blockBoundingRect(b));
    return out;
}

// Lets the background layout run to its end.
inline void settle(const TextMirror& mirror)
{
    QElapsedTimer timer;
    timer.start();
    while (layoutOf(mirror)->laidOutBlockCount() < mirror.document()->blockCount() && timer.elapsed() < patience)
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace lumora::test
