#include "platform/foundation/NotificationCenter.h"

#include <algorithm>

namespace lumora {

Observation::Observation(Observation&& other) noexcept : m_center(other.m_center), m_id(other.m_id)
{
    other.m_center = nullptr;
    other.m_id = 0;
}

Observation& Observation::operator=(Observation&& other) noexcept
{
    if (this != &other) {
        reset();
        m_center = other.m_center;
        m_id = other.m_id;
        other.m_center = nullptr;
        other.m_id = 0;
    }
    return *this;
}

Observation::~Observation() { reset(); }

void Observation::reset()
{
    if (m_center && m_id) m_center->remove(m_id);
    m_center = nullptr;
    m_id = 0;
}

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter* center = new NotificationCenter; // lives to the end of the process
    return *center;
}

std::uint64_t NotificationCenter::add(const QString& name, Callback callback, const void* object,
                                      QObject* context)
{
    const std::uint64_t id = m_nextId++;
    m_entries.push_back(Entry{id, name, object, std::make_shared<Callback>(std::move(callback)),
                              context != nullptr, QPointer<QObject>(context)});
    return id;
}

Observation NotificationCenter::observe(const QString& name, Callback callback, const void* object)
{
    return Observation(this, add(name, std::move(callback), object, nullptr));
}

void NotificationCenter::observe(const QString& name, QObject* context, Callback callback, const void* object)
{
    const std::uint64_t id = add(name, std::move(callback), object, context);
    QObject::connect(context, &QObject::destroyed, [this, id] { remove(id); });
}

void NotificationCenter::remove(std::uint64_t id)
{
    auto it = std::find_if(m_entries.begin(), m_entries.end(), [id](const Entry& e) { return e.id == id; });
    if (it != m_entries.end()) m_entries.erase(it);
}

void NotificationCenter::post(const QString& name, const void* object)
{
    // Snapshot the ids; each is looked up again before its call so that an
    // observer removed meanwhile is skipped.
    std::vector<std::uint64_t> ids;
    for (const Entry& e : m_entries)
        if (e.name == name && (!e.object || e.object == object)) ids.push_back(e.id);
    const Notification notification{name, object};
    for (std::uint64_t id : ids) {
        auto it = std::find_if(m_entries.begin(), m_entries.end(), [id](const Entry& e) { return e.id == id; });
        if (it == m_entries.end()) continue;
        if (it->hasContext && !it->context) continue;
        const std::shared_ptr<Callback> callback = it->callback; // survives its own removal
        (*callback)(notification);
    }
}

int NotificationCenter::observerCount(const QString& name) const
{
    return int(std::count_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.name == name; }));
}

} // namespace lumora
