#pragma once

#include "platform/text/Attributes.h"

#include <QMarginsF>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <memory>
#include <vector>

class QPainter;
class QTextDocument;

namespace lumora {

class Document;

// The layout of one print job: each document's text formatted for paper,
// either as its Markdown source or rendered through HTML, and cut into
// pages; and the header (the file name) and footer ("- 2 -") of each page.
//
// The source form keeps the editor's paragraph layout (line height, markers
// hanging in the head indent, list and quote indents) in the stylesheet's
// base font at 10 points, without the element styles and in black. Its text
// area is the paper less 80 points at top and bottom and less 80 minus the
// head indent at the sides, so the indented text sits inside the same
// 80-point frame and the markers hang into it. The rendered form fills the
// paper less 80 points on every side; an image larger than that area is
// drawn smaller, in proportion, so each prints whole, and an image in a
// table no wider than its column, so the words beside it keep their room.
// The margins follow the option at each layout, so switching it never
// leaves the text off-centre.
//
// Lengths are points (1/72 inch) throughout: the paper, the margins and the
// print documents, whose fonts are sized in pixels that stand for points
// (so nothing depends on the screen's resolution). Whoever draws a page
// scales the painter from points to the device.
//
// Main thread only.
class PrintManager {
public:
    struct PrintInfo {
        // The paper in points, as its orientation turns it.
        QSizeF paperSize;
        // Print the Markdown rendered through HTML instead of its source.
        bool applyMarkdown = false;
    };

    // One document's pages: its print text laid out on pages of the paper's
    // size, each page's text inside the margins.
    class DocumentView {
    public:
        DocumentView(QString name, std::unique_ptr<QTextDocument> text, QSizeF paperSize, QMarginsF margins);
        ~DocumentView();

        // The header: the document's file name, empty for an untitled one.
        const QString& name() const { return m_name; }
        // Pages the text needs up to its last visible line; none for a text
        // that is empty or blank.
        int pageCount() const { return m_pageCount; }
        // Where the text stands on every page, in points from the paper's
        // top-left corner.
        QRectF textArea() const;
        const QTextDocument& text() const { return *m_text; }
        // Draws the text of page index (from 0) in the text area; painter in
        // points with its origin at the paper's top-left corner.
        void drawPage(QPainter& painter, int index) const;

    private:
        QString m_name;
        std::unique_ptr<QTextDocument> m_text;
        QSizeF m_paperSize;
        QMarginsF m_margins;
        int m_pageCount = 0;
    };

    // The print font's size, and the band above and below the text (and at
    // the sides of the rendered form), in points.
    static constexpr double fontSize = 10.0;
    static constexpr double pageMargin = 80.0;

    PrintManager();
    ~PrintManager();
    PrintManager(const PrintManager&) = delete;
    PrintManager& operator=(const PrintManager&) = delete;

    // What to print, in order. A document closed meanwhile is left out.
    std::vector<QPointer<Document>> documents;
    PrintInfo printInfo;

    // Lays every document out again from its current text, for printInfo.
    void layoutDocuments();
    const std::vector<std::unique_ptr<DocumentView>>& documentViews() const { return m_documentViews; }
    // The print base attributes of the last layout: the print font and its
    // paragraph style.
    const Attributes& attributes() const { return m_attributes; }

    // The margins around the text area for the current option.
    QMarginsF pageMargins() const;
    // The document's text formatted for print in the current form.
    std::unique_ptr<QTextDocument> makeTextDocument(const Document& document) const;
    std::unique_ptr<DocumentView> makeDocumentView(const Document& document) const;
    // Draws the header and footer of page index (from 0) of a document.
    void drawPageHeaderAndFooter(QPainter& painter, int index, const DocumentView& view) const;

private:
    std::unique_ptr<QTextDocument> makeSourceDocument(const Document& document) const;
    // The HTML read into a text document, with the images and style sheets
    // it names (relative ones from folder) loaded by the pages' rules.
    std::unique_ptr<QTextDocument> makeRenderedDocument(const QString& html, const QString& folder) const;

    Attributes m_attributes;
    std::vector<std::unique_ptr<DocumentView>> m_documentViews;
};

} // namespace lumora
