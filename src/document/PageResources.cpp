#include "document/PageResources.h"

#include "platform/files/LocalResources.h"
#include "platform/foundation/Dispatch.h"
#include "platform/text/SafeTextDocument.h"

#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QTextBlock>
#include <QTextFragment>
#include <QUrl>

#include <map>
#include <set>
#include <utility>
#include <vector>

namespace lumora {

namespace {

using ResourceKey = std::pair<int, QString>; // resource type, address as written

// The bytes a data: address carries ("data:image/png;base64,...").
std::optional<QByteArray> dataURLBytes(const QUrl& url)
{
    if (url.scheme().compare(QLatin1String("data"), Qt::CaseInsensitive) != 0) return std::nullopt;
    const QByteArray text = url.path(QUrl::FullyEncoded).toLatin1();
    const qsizetype comma = text.indexOf(',');
    if (comma < 0) return std::nullopt;
    const QByteArray header = text.left(comma).trimmed().toLower();
    const QByteArray payload = QByteArray::fromPercentEncoding(text.mid(comma + 1));
    if (header.endsWith(";base64")) return QByteArray::fromBase64(payload);
    return payload;
}

QVariant decodedImage(const QByteArray& bytes)
{
    QImage image = QImage::fromData(bytes);
    return image.isNull() ? QVariant() : QVariant(image);
}

// The work that gives one resource, to run on a thread of its own; none
// for an address these rules never load.
std::function<QVariant()> loadingJob(int type, const QString& address, const QString& folder)
{
    const QUrl url(address);
    if (type == QTextDocument::ImageResource) {
        if (const auto bytes = dataURLBytes(url)) return [bytes = *bytes] { return decodedImage(bytes); };
        if (const auto path = localResourcePath(url, folder)) {
            return [path = *path] {
                const auto bytes = readLocalResource(path);
                return bytes ? decodedImage(*bytes) : QVariant();
            };
        }
    } else if (type == QTextDocument::StyleSheetResource) {
        if (const auto bytes = dataURLBytes(url)) return [bytes = *bytes] { return QVariant(QString::fromUtf8(bytes)); };
        if (const auto path = localResourcePath(url, folder)) {
            return [path = *path] {
                const auto bytes = readLocalResource(path, PageResources::maximumStyleSheetSize);
                return bytes ? QVariant(QString::fromUtf8(*bytes)) : QVariant();
            };
        }
    }
    return {};
}

// What one reading of the page asked for, and what it may have.
struct Resources {
    std::map<ResourceKey, QVariant> loaded;
    std::set<ResourceKey> asked;   // asked for and not loaded (yet)
    bool askedWhileReading = false; // style sheets and backgrounds
};

QString keyOf(const QUrl& url) { return url.toString(QUrl::FullyEncoded); }

std::unique_ptr<SafeTextDocument> readPage(const QString& html, const QString& folder,
                                           const std::shared_ptr<Resources>& resources,
                                           const std::function<void(QTextDocument&)>& prepare)
{
    auto text = std::make_unique<SafeTextDocument>();
    // Qt resolves every address against the base before it asks.
    if (!folder.isEmpty()) text->setBaseUrl(QUrl::fromLocalFile(folder + QLatin1Char('/')));
    text->setLoader([resources](int type, const QUrl& name) {
        const ResourceKey key{type, keyOf(name)};
        if (const auto found = resources->loaded.find(key); found != resources->loaded.end()) return found->second;
        resources->asked.insert(key);
        resources->askedWhileReading = true;
        return QVariant();
    });
    if (prepare) prepare(*text);
    text->setHtml(html);
    // Images are asked for only when the page is laid out; their names are
    // in the text already.
    for (QTextBlock block = text->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (!format.isImageFormat()) continue;
            const QUrl url = text->baseUrl().resolved(QUrl(format.toImageFormat().name()));
            const ResourceKey key{QTextDocument::ImageResource, keyOf(url)};
            if (!resources->loaded.count(key)) resources->asked.insert(key);
        }
    }
    return text;
}

} // namespace

std::unique_ptr<QTextDocument> PageResources::textDocument(const QString& html, const QString& folder,
                                                           const std::function<void(QTextDocument&)>& prepare)
{
    auto resources = std::make_shared<Resources>();
    std::unique_ptr<SafeTextDocument> text = readPage(html, folder, resources, prepare);
    const auto deadline = std::chrono::steady_clock::now() + loadingTime;
    // A style sheet may import others: a few rounds at most.
    for (int round = 0; round < 3 && !resources->asked.empty(); ++round) {
        std::vector<ResourceKey> keys;
        std::vector<std::function<QVariant()>> jobs;
        for (const ResourceKey& key : resources->asked) {
            if (auto job = loadingJob(key.first, key.second, folder)) {
                keys.push_back(key);
                jobs.push_back(std::move(job));
            }
            // Asked once: what cannot or could not be loaded stays missing.
            resources->loaded.emplace(key, QVariant());
        }
        resources->asked.clear();
        if (jobs.empty()) break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const auto results = dispatch::runWithin(std::move(jobs), std::max(left, std::chrono::milliseconds(0)));
        for (size_t i = 0; i < keys.size(); ++i)
            if (results[i]) resources->loaded[keys[i]] = *results[i];
        // Images are taken when the page is laid out, from what is loaded
        // now; style sheets and backgrounds only while it is read.
        if (!std::exchange(resources->askedWhileReading, false)) break;
        text = readPage(html, folder, resources, prepare);
    }
    return text;
}

} // namespace lumora
