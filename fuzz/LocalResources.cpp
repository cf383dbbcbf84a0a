// Fuzzes the rule that turns an address a page names into a local file:
// any address, relative to any folder, must give either nothing or an
// absolute, clean path, without a crash or undefined behaviour; addresses
// of the network never name a file.
//
// Input: the text up to the first newline is the document's folder, the
// rest is the address.
//
//   make fuzz
//   build/fuzz/fuzz/fuzz_LocalResources fuzz/corpus/LocalResources
#include "platform/files/LocalResources.h"

#include <QDir>
#include <QUrl>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype newline = input.indexOf('\n');
    const QString folder = newline < 0 ? QString() : QString::fromUtf8(input.left(newline));
    const QString address = QString::fromUtf8(newline < 0 ? input : input.mid(newline + 1));
    for (const QUrl& url : {QUrl(address), QUrl(address, QUrl::StrictMode), QUrl::fromUserInput(address)}) {
        const std::optional<QString> path = lumora::localResourcePath(url, folder);
        if (!path) continue;
        const QString scheme = url.scheme().toLower();
        if (!path->startsWith(QLatin1Char('/')) || QDir::cleanPath(*path) != *path
            || (!scheme.isEmpty() && scheme != QLatin1String("file"))) {
            std::fprintf(stderr, "address %s in %s gave %s\n", qPrintable(url.toString()), qPrintable(folder),
                         qPrintable(*path));
            std::abort();
        }
    }
    return 0;
}
