#include "platform/files/MountWatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

namespace lumora {

MountWatcher& MountWatcher::shared()
{
    // Never destroyed: folder watchers may outlive main's end in queued work.
    static MountWatcher* instance = new MountWatcher();
    return *instance;
}

MountWatcher::MountWatcher()
{
    m_fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) return;
    // The change shows as an exceptional condition (POLLPRI), once per change.
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &MountWatcher::mountsChanged);
}

MountWatcher::~MountWatcher()
{
    delete m_notifier;
    if (m_fd >= 0) ::close(m_fd);
}

} // namespace lumora
