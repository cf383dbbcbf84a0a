#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QTextDocument;

namespace lumora {

// The writer's HTML read into a text document (the rendered form of
// printing), with the images and style sheets it names loaded by the rules
// of LocalResources.h, the same the preview follows: local files only,
// ordinary ones of bounded size, relative addresses from the document's
// folder (none for an untitled document); data: images from the page
// itself; nothing from the network. Everything else is a missing image.
//
// The files are read and the images decoded on threads of their own
// (dispatch::runWithin), all of a page's at once; the calling thread waits
// at most loadingTime for them, so a disk that hangs costs that long once
// and never freezes the program. prepare sets the document up (fonts, the
// default style sheet) before the HTML is read.
struct PageResources {
    static constexpr std::chrono::milliseconds loadingTime{5000};
    // Style sheets larger than this are left out.
    static constexpr qint64 maximumStyleSheetSize = 1024 * 1024;

    static std::unique_ptr<QTextDocument> textDocument(const QString& html, const QString& folder,
                                                       const std::function<void(QTextDocument&)>& prepare = {});
};

} // namespace lumora
