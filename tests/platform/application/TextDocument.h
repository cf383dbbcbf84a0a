#pragma once

#include "platform/application/DocumentBase.h"
#include "platform/files/TextFileCodec.h"

namespace lumora::test {

// A plain-text document as the application's will be: text in a remembered format.
class TextDocument : public DocumentBase {
public:
    QString text;
    TextFileFormat format;
    bool failWriting = false;
    int readCount = 0;
    int saveCount = 0;

    TextDocument()
    {
        undoManager().setTextApplier([this](Range range, const QString& replacement) {
            text.replace(int(range.location), int(range.length), replacement);
        });
    }

    // One edit through the undo stack, as the editor makes it.
    void edit(const QString& appended)
    {
        const Range at(text.size(), 0);
        text += appended;
        undoManager().recordReplacement({at, QString(), appended, at, Range(text.size(), 0)});
    }

protected:
    PlatformStatus readFromData(const QByteArray& data, const QString&, const QString& path) override
    {
        auto read = TextFileCodec::read(data, Encoding::utf8, path);
        if (!read) return read.error();
        text = read->text;
        format = read->format;
        return {};
    }
    PlatformResult<QByteArray> dataOfType(const QString&) override
    {
        if (failWriting) return PlatformError(PlatformError::Code::writeFailed, QStringLiteral("refused"));
        auto written = TextFileCodec::write(text, format);
        if (!written) return written.error();
        return written->bytes;
    }
    // Reverting is one undoable step, as in the application's documents.
    PlatformStatus replaceContents(const QByteArray& data, const QString&, const QString& path) override
    {
        auto read = TextFileCodec::read(data, Encoding::utf8, path);
        if (!read) return read.error();
        const QString old = text;
        text = read->text;
        format = read->format;
        undoManager().recordReplacement({Range(0, old.size()), old, text, Range(0, 0), Range(text.size(), 0)});
        return {};
    }
    void didRead() override { ++readCount; }
    void didSave() override { ++saveCount; }
};

} // namespace lumora::test
