#include "support/MarkdownCorpus.h"

#include "platform/files/FileWriter.h"

#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

#include <random>

namespace lumora::bench {

namespace {

const QStringList kWords = {
    QStringLiteral("river"),   QStringLiteral("stone"),  QStringLiteral("quietly"), QStringLiteral("the"),
    QStringLiteral("morning"), QStringLiteral("writer"), QStringLiteral("of"),      QStringLiteral("a"),
    QStringLiteral("letter"),  QStringLiteral("under"),  QStringLiteral("garden"),  QStringLiteral("and"),
    QStringLiteral("window"),  QStringLiteral("slowly"), QStringLiteral("harbour"), QStringLiteral("to"),
    QStringLiteral("lantern"), QStringLiteral("paper"),  QStringLiteral("in"),      QStringLiteral("evening"),
};

struct Writer {
    std::mt19937 rng;
    QString out;

    int pick(int n) { return int(rng() % unsigned(n)); }
    QString word() { return kWords[pick(int(kWords.size()))]; }

    QString phrase(int words)
    {
        QStringList w;
        for (int i = 0; i < words; ++i) {
            QString x = word();
            switch (pick(14)) {
            case 0: x = u'*' + x + u'*'; break;
            case 1: x = QStringLiteral("**") + x + QStringLiteral("**"); break;
            case 2: x = u'[' + x + QStringLiteral("](https://example.org/") + word() + u')'; break;
            case 3: x += QStringLiteral("[^") + QString::number(pick(40)) + u']'; break;
            default: break;
            }
            w << x;
        }
        return w.join(u' ');
    }

    QString sentence()
    {
        QString s = phrase(6 + pick(10));
        s[0] = s[0].toUpper();
        return s + (pick(5) == 0 ? u'?' : u'.');
    }

    void paragraph()
    {
        const int n = 2 + pick(4);
        for (int i = 0; i < n; ++i) out += sentence() + (i + 1 < n ? QStringLiteral(" ") : QStringLiteral("\n\n"));
    }
};

} // namespace

QString markdownCorpus(qsizetype bytes, std::uint32_t seed)
{
    Writer w{std::mt19937(seed), {}};
    w.out.reserve(bytes + 4096);
    int section = 0;
    while (w.out.size() < bytes) {
        w.out += QStringLiteral("#").repeated(1 + w.pick(3)) + u' ' + w.phrase(3) + QStringLiteral(" ")
            + QString::number(++section) + u'\n';
        w.paragraph();
        switch (w.pick(5)) {
        case 0:
            for (int i = 0, n = 2 + w.pick(5); i < n; ++i)
                w.out += (w.pick(3) == 0 ? QStringLiteral("    - ") : QStringLiteral("- ")) + w.phrase(4 + w.pick(8)) + u'\n';
            w.out += u'\n';
            break;
        case 1:
            for (int i = 0, n = 2 + w.pick(5); i < n; ++i)
                w.out += QString::number(i + 1) + QStringLiteral(". ") + w.phrase(4 + w.pick(8)) + u'\n';
            w.out += u'\n';
            break;
        case 2:
            w.out += QStringLiteral("> ") + w.sentence() + u' ' + w.sentence() + QStringLiteral("\n\n");
            break;
        case 3:
            w.out += QStringLiteral("    let x = ") + w.word() + QStringLiteral("();\n    return x;\n\n");
            break;
        default:
            w.out += QStringLiteral("[^") + QString::number(w.pick(40)) + QStringLiteral("]: ") + w.sentence()
                + QStringLiteral("\n\n");
            break;
        }
        w.paragraph();
    }
    return w.out;
}

const QString& sharedMarkdownCorpus(qsizetype bytes)
{
    static std::map<qsizetype, QString> cache;
    auto it = cache.find(bytes);
    if (it == cache.end()) it = cache.emplace(bytes, markdownCorpus(bytes)).first;
    return it->second;
}

const QString& markdownCorpusFile(qsizetype bytes, const QString& extension)
{
    static QTemporaryDir dir;
    static std::map<std::pair<qsizetype, QString>, QString> files;
    auto it = files.find({bytes, extension});
    if (it == files.end()) {
        const QString path = dir.filePath(QStringLiteral("document-%1.%2").arg(bytes).arg(extension));
        if (auto status = writeFileSafely(path, sharedMarkdownCorpus(bytes).toUtf8()); !status) {
            std::fprintf(stderr, "Cannot write %s: %s\n", qPrintable(path),
                         qPrintable(status.error().recoverySuggestion));
            std::exit(1);
        }
        it = files.emplace(std::pair{bytes, extension}, path).first;
    }
    return it->second;
}

} // namespace lumora::bench
