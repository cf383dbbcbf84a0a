#pragma once

#include <QString>

#include <memory>

namespace lumora {

// A private folder of this process's own for files that must not outlive
// it, such as the preview's very large pages: <base>/Lumora/<kind>/<pid>-XXXXXX,
// where base is $XDG_RUNTIME_DIR (emptied at logout), or $XDG_CACHE_HOME
// (~/.cache) when there is none. The folders are readable by the user
// alone (0700).
//
// It is removed with its files when the object goes. A process that
// crashed or was killed leaves it behind: removeAbandoned, called at the
// next start, removes the folders whose process is gone. A process holds a
// lock in its folder while it lives (a FileLock on ".lock"), so a folder of
// another Lumora still running is never touched, whatever its process
// number.
class FileLock;

class ScratchFolder {
public:
    explicit ScratchFolder(const QString& kind);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // False when the folder could not be made.
    bool isValid() const { return m_lock != nullptr; }
    QString path() const { return m_path; }
    QString filePath(const QString& name) const;

    // <base>/Lumora/<kind>, where the folders of every process are.
    static QString parentFolder(const QString& kind);
    // Removes the folders of kind left by processes that have ended; the
    // number removed.
    static int removeAbandoned(const QString& kind);

private:
    QString m_path;
    std::unique_ptr<FileLock> m_lock;
};

} // namespace lumora
