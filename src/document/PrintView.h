#pragma once

#include "document/PrintManager.h"
#include "platform/foundation/PlatformError.h"

#include <QRectF>

#include <utility>

class QPainter;
class QPrinter;

namespace lumora {

// The pages of one print job, document after document, and their printing
// onto a printer (a real one, a PDF file, or the preview). Its delegate,
// the PrintManager, lays the documents out; the view numbers the pages of
// all documents from 1, finds each page's document, and draws pages with
// their header and footer.
//
// The layout is redone at each page-range request, so the paper,
// orientation and Markdown option of that moment always show.
//
// Main thread only.
class PrintView {
public:
    PrintView();

    PrintManager& delegate() { return m_delegate; }
    const PrintManager& delegate() const { return m_delegate; }

    // Lays every page out again for the printer's paper (its size and
    // orientation) and the "applyMarkdown" preference; the number of pages,
    // 0 when every document is empty.
    int knowsPageRange(const QPrinter& printer);
    int pageCount() const;
    // The next page-range request may keep the layout just made when the
    // paper and the option are still the same (the print panel's first
    // preview, right after it counted the pages).
    void keepLayoutForNextRequest() { m_keepLayout = true; }

    // The text area of page n (from 1) on its paper, in points.
    QRectF rectForPage(int n) const;
    // The document view that holds page n (from 1) and the page's index
    // within that document; nullptr outside the pages.
    std::pair<const PrintManager::DocumentView*, int> documentPage(int n) const;
    // Draws page n with its header and footer; painter in points with its
    // origin at the paper's top-left corner.
    void drawPage(QPainter& painter, int n) const;

    // What printing says when the last layout has no page: every document
    // is empty.
    PlatformError emptyJobError() const;

    // Lays out and prints the printer's page range (every page when
    // allPages, as the preview wants), its copies and page order. Fails,
    // printing nothing, when there is no page to print; fails when the
    // printer or the file refuses the pages.
    PlatformStatus print(QPrinter& printer, bool allPages = false);

private:
    PrintManager m_delegate;
    bool m_keepLayout = false;
};

} // namespace lumora
