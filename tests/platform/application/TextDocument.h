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
    void didRead() override { ++readCount; }
    void didSave() override { ++saveCount; }
};

} // namespace lumora::test
