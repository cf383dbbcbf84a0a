#pragma once

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace lumora::test {

// For the rest of a scope, acts as an ordinary user, for whom permission
// bits count (root passes them all). When the tests run as root, the
// effective user and group become "nobody" and "nogroup", without further
// groups (the saved user stays root, so all comes back at the end of the
// scope), and every folder above reach lets others pass through it
// meanwhile (the test's sandbox is its owner's alone), so that only what
// the test changes stands in the way. Run by another user, nothing
// changes: permissions bite already. ok() is false, and why() says why,
// when the system refuses the switch; the test skips then.
class WithoutPrivileges {
public:
    explicit WithoutPrivileges(const QString& reach)
    {
        if (::geteuid() != 0) {
            m_ok = true;
            return;
        }
        for (QString folder = QFileInfo(reach).absolutePath();; folder = QFileInfo(folder).absolutePath()) {
            const QByteArray native = QFile::encodeName(folder);
            struct stat st {};
            if (::stat(native.constData(), &st) == 0 && !(st.st_mode & S_IXOTH)
                && ::chmod(native.constData(), (st.st_mode & 07777) | S_IXOTH) == 0)
                m_opened.emplace_back(native, st.st_mode & 07777);
            if (folder == QLatin1String("/")) break;
        }
        m_groups.resize(size_t(std::max(0, ::getgroups(0, nullptr))));
        m_groups.resize(size_t(std::max(0, ::getgroups(int(m_groups.size()), m_groups.data()))));
        m_group = ::getegid();
        if (::setgroups(0, nullptr) != 0 || ::setresgid(gid_t(-1), kNogroup, gid_t(-1)) != 0
            || ::setresuid(uid_t(-1), kNobody, uid_t(-1)) != 0) {
            m_why = std::string("the tests cannot act as another user: ") + std::strerror(errno);
            restore();
            return;
        }
        m_ok = true;
    }
    ~WithoutPrivileges() { restore(); }
    WithoutPrivileges(const WithoutPrivileges&) = delete;
    WithoutPrivileges& operator=(const WithoutPrivileges&) = delete;

    bool ok() const { return m_ok; }
    const std::string& why() const { return m_why; }

private:
    static constexpr uid_t kNobody = 65534;
    static constexpr gid_t kNogroup = 65534;

    void restore()
    {
        if (::geteuid() != 0 && ::setresuid(uid_t(-1), 0, uid_t(-1)) != 0) return;
        (void)::setresgid(gid_t(-1), m_group, gid_t(-1));
        (void)::setgroups(m_groups.size(), m_groups.data());
        for (const auto& [folder, mode] : m_opened) ::chmod(folder.constData(), mode);
        m_opened.clear();
    }

    std::vector<std::pair<QByteArray, mode_t>> m_opened;
    std::vector<gid_t> m_groups;
    gid_t m_group = 0;
    std::string m_why;
    bool m_ok = false;
};

} // namespace lumora::test
