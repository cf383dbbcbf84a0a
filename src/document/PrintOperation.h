#pragma once

#include "document/PrintView.h"
#include "platform/foundation/PlatformError.h"

#include <QPageLayout>
#include <QPrinter>

#include <vector>

class QWidget;

namespace lumora {

class Document;

// One print job over a list of documents, printed one after another: its
// print view and printer, and the print panel that runs it.
//
// The panel shows the pages in a live preview beside the Markdown option
// (PrintAccessoryViewController), with Page Setup (paper size and
// orientation) and Print…, which opens the system's print dialog: a
// printer, or a PDF file (offered with or without printers installed,
// beside the first document and under its name), the page range and copies. Every change lays the pages out again.
//
// The paper and orientation carry over from job to job for the session
// (pageLayout()); the Markdown option carries over in the preferences.
class PrintOperation {
public:
    explicit PrintOperation(const std::vector<Document*>& documents);
    ~PrintOperation();
    PrintOperation(const PrintOperation&) = delete;
    PrintOperation& operator=(const PrintOperation&) = delete;

    PrintView& printView() { return m_printView; }
    QPrinter& printer() { return m_printer; }

    // Runs the print panel in front of parent. Documents that are all empty
    // never open it: the result says there is nothing to print. Otherwise
    // ok once the pages were printed, cancelled when the writer closed the
    // panel or the print dialog, and the error when printing failed.
    PlatformStatus run(QWidget* parent);

    // The paper size and orientation print jobs start with.
    static QPageLayout pageLayout();
    static void setPageLayout(const QPageLayout& layout);
    // Page Setup: asks for the paper size and orientation of the printer's
    // layout (the session's when printer is nullptr); true when the writer
    // confirmed, and the session's layout follows.
    static bool runPageLayout(QWidget* parent, QPrinter* printer = nullptr);

private:
    QPrinter m_printer;
    PrintView m_printView;
};

} // namespace lumora
