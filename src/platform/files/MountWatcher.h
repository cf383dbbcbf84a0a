#pragma once

#include <QObject>

class QSocketNotifier;

namespace lumora {

// Tells when a disk is mounted or unmounted in this process's view of the
// system (the kernel marks /proc/self/mountinfo when its table changes).
// A folder watcher learns this way that its folder's disk went away even
// when the kernel tells the folder nothing: a disk taken away while a
// program holds it (a forced or lazy unmount) stays alive for that program
// but is no longer where its path leads.
//
// One per process, on the main thread; quiet where the system offers no
// such file.
class MountWatcher : public QObject {
    Q_OBJECT

public:
    static MountWatcher& shared();
    ~MountWatcher() override;

signals:
    void mountsChanged();

private:
    MountWatcher();
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace lumora
