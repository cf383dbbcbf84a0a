#pragma once

#include <QTextDocument>

#include <functional>

namespace lumora {

// A text document for HTML that never reads a file on its own. Qt's own
// loader reads every file a page names (an image, a style sheet, a
// background) on the calling thread, whatever it is: a named pipe waits
// for a writer forever, /dev/zero fills the memory. Here resources come
// only from the loader given, and without one nothing is loaded at all.
//
// What the loader does not answer is missing: a missing image shows as a
// small placeholder (never an empty image, which would send Qt to read the
// file itself), a missing style sheet adds no styles.
class SafeTextDocument : public QTextDocument {
    Q_OBJECT

public:
    // Answers a resource of a QTextDocument::ResourceType by its address as
    // the page writes it, or an invalid QVariant. Images are QImage values
    // (or the bytes of one), style sheets QString values. Called on the
    // document's thread, while Qt parses, lays out or draws the page: it
    // must answer at once.
    using Loader = std::function<QVariant(int type, const QUrl& name)>;

    explicit SafeTextDocument(QObject* parent = nullptr);
    ~SafeTextDocument() override;

    void setLoader(Loader loader) { m_loader = std::move(loader); }

    // What a missing image shows.
    static QImage missingImage();

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    Loader m_loader;
};

} // namespace lumora
