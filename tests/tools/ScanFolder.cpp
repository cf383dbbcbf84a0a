// lumora-scan-folder: scans a folder as a library and prints its tree, for
// a look at what the library shows of a real disk. Not installed.
//
//   lumora-scan-folder FOLDER [--sort name|dateAdded|dateModified] [--summaries]
#include "library/File.h"
#include "library/FileController.h"
#include "library/Library.h"
#include "settings/SaveEncoding.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTextStream>

#include <functional>

using namespace lumora;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const bool summaries = arguments.removeAll(QStringLiteral("--summaries")) > 0;
    auto sortKey = Library::SortKey::name;
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--sort")); at >= 0 && at + 1 < arguments.size()) {
        const auto key = Library::sortKeyFromRawValue(arguments.at(at + 1));
        if (!key) {
            err << "Unknown sort order " << arguments.at(at + 1) << ": use name, dateAdded or dateModified.\n";
            return 2;
        }
        sortKey = *key;
        arguments.remove(at, 2);
    }
    if (arguments.size() != 1) {
        err << "usage: lumora-scan-folder FOLDER [--sort name|dateAdded|dateModified] [--summaries]\n";
        return 2;
    }

    auto library = Library::make(arguments.first());
    library->sortKey = sortKey;
    QElapsedTimer timer;
    timer.start();
    if (auto status = library->loadFileTree(); !status) {
        err << status.error().message() << "\n";
        return 1;
    }
    const qint64 elapsed = timer.elapsed();
    Directory* root = library->fileController()->rootFile();
    if (!root) {
        err << "Nothing to scan.\n";
        return 1;
    }

    int documents = 0;
    int folders = 0;
    const auto date = [](const std::optional<QDateTime>& d) {
        return d ? d->toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QStringLiteral("-");
    };
    std::function<void(Directory&, int)> print = [&](Directory& folder, int depth) {
        for (const auto& child : folder.contents()) {
            out << QString(depth * 2, QLatin1Char(' ')) << child->filename();
            if (child->isDirectory()) {
                ++folders;
                out << "/\n";
                print(static_cast<Directory&>(*child), depth + 1);
                continue;
            }
            ++documents;
            out << "  (added " << date(child->dateAdded()) << ", modified " << date(child->dateModified()) << ")\n";
            if (summaries) {
                QString summary = RegularFile::readSummary(child->path(), preferredSaveEncoding()).simplified();
                if (summary.size() > 72) summary = summary.left(71) + QChar(0x2026);
                out << QString(depth * 2 + 4, QLatin1Char(' ')) << summary << "\n";
            }
        }
    };
    out << root->path() << "/\n";
    print(*root, 1);
    out << documents << " documents in " << folders << " folders, scanned in " << elapsed << " ms\n";
    return 0;
}
