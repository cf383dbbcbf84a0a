#include "document/PrintView.h"

#include "platform/files/NativePath.h"
#include "platform/files/UserDefaults.h"
#include "platform/foundation/Localization.h"

#include <QFileInfo>
#include <QPageRanges>
#include <QPainter>
#include <QPrinter>

#include <algorithm>
#include <utility>

namespace lumora {

namespace {

const QString kApplyMarkdown = QStringLiteral("applyMarkdown");

PlatformError printError(const QPrinter& printer)
{
    const QString file = printer.outputFileName();
    if (printer.outputFormat() == QPrinter::PdfFormat && !file.isEmpty())
        return PlatformError(PlatformError::Code::writeFailed, localized("print.error.failed"),
                             localizedFormat(QStringLiteral("print.error.failed.file"), {NativePath::shownNameOf(file)}),
                             file);
    return PlatformError(PlatformError::Code::generic, localized("print.error.failed"),
                         localized("print.error.failed.printer"));
}

} // namespace

PrintView::PrintView() = default;

int PrintView::knowsPageRange(const QPrinter& printer)
{
    PrintManager::PrintInfo& info = m_delegate.printInfo;
    const PrintManager::PrintInfo before = info;
    info.paperSize = printer.pageLayout().fullRect(QPageLayout::Point).size();
    info.applyMarkdown = UserDefaults::standard().boolValue(kApplyMarkdown);
    const bool keep = std::exchange(m_keepLayout, false) && info.paperSize == before.paperSize
        && info.applyMarkdown == before.applyMarkdown;
    if (!keep) m_delegate.layoutDocuments();
    return pageCount();
}

int PrintView::pageCount() const
{
    int count = 0;
    for (const auto& view : m_delegate.documentViews()) count += view->pageCount();
    return count;
}

std::pair<const PrintManager::DocumentView*, int> PrintView::documentPage(int n) const
{
    int index = n - 1;
    if (index < 0) return {nullptr, 0};
    for (const auto& view : m_delegate.documentViews()) {
        if (index < view->pageCount()) return {view.get(), index};
        index -= view->pageCount();
    }
    return {nullptr, 0};
}

QRectF PrintView::rectForPage(int n) const
{
    const auto [view, index] = documentPage(n);
    return view ? view->textArea() : QRectF();
}

void PrintView::drawPage(QPainter& painter, int n) const
{
    const auto [view, index] = documentPage(n);
    if (!view) return;
    view->drawPage(painter, index);
    m_delegate.drawPageHeaderAndFooter(painter, index, *view);
}

PlatformError PrintView::emptyJobError() const
{
    const auto& views = m_delegate.documentViews();
    const QString name = views.size() == 1 ? views.front()->name() : QString();
    return PlatformError(PlatformError::Code::generic,
                         name.isEmpty() ? localized("print.error.empty")
                                        : localizedFormat(QStringLiteral("print.error.empty.one"), {name}),
                         localized("print.error.empty.info"));
}

PlatformStatus PrintView::print(QPrinter& printer, bool allPages)
{
    // The painter starts at the paper's corner; the margins are ours.
    printer.setFullPage(true);
    const int count = knowsPageRange(printer);

    QList<int> pages;
    const QPageRanges ranges = printer.pageRanges();
    if (allPages || ranges.isEmpty()) {
        for (int n = 1; n <= count; ++n) pages << n;
    } else {
        for (const QPageRanges::Range& range : ranges.toRangeList())
            for (int n = std::max(1, range.from); n <= std::min(count, range.to); ++n) pages << n;
    }
    if (pages.isEmpty()) {
        if (count == 0) return emptyJobError();
        return PlatformError(PlatformError::Code::generic, localized("print.error.range"),
                             localizedFormat(QStringLiteral("print.error.range.info"), {QString::number(count)}));
    }
    if (!allPages && printer.pageOrder() == QPrinter::LastPageFirst) std::reverse(pages.begin(), pages.end());

    // Copies the printer cannot make itself are printed here, whole
    // documents in turn when collated, else each page in turn.
    const int copies = allPages || printer.supportsMultipleCopies() ? 1 : std::max(1, printer.copyCount());
    QList<int> sequence;
    if (printer.collateCopies()) {
        for (int c = 0; c < copies; ++c) sequence << pages;
    } else {
        for (int n : pages)
            for (int c = 0; c < copies; ++c) sequence << n;
    }

    QPainter painter;
    if (!painter.begin(&printer)) return printError(printer);
    const double scale = printer.resolution() / 72.0;
    for (qsizetype i = 0; i < sequence.size(); ++i) {
        if (i > 0 && !printer.newPage()) {
            painter.end();
            return printError(printer);
        }
        painter.save();
        painter.scale(scale, scale);
        drawPage(painter, sequence[i]);
        painter.restore();
        if (printer.printerState() == QPrinter::Aborted) {
            painter.end();
            return PlatformError::cancelled();
        }
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error) return printError(printer);
    return {};
}

} // namespace lumora
