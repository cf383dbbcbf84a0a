#pragma once

#include <QPointer>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace lumora {

struct Notification {
    QString name;
    const void* object = nullptr; // the poster, when it names one
};

class NotificationCenter;

// Keeps one observer registered; unregisters when destroyed or reset.
class Observation {
public:
    Observation() = default;
    Observation(Observation&& other) noexcept;
    Observation& operator=(Observation&& other) noexcept;
    Observation(const Observation&) = delete;
    Observation& operator=(const Observation&) = delete;
    ~Observation();

    void reset();
    bool isActive() const { return m_id != 0; }

private:
    friend class NotificationCenter;
    Observation(NotificationCenter* center, std::uint64_t id) : m_center(center), m_id(id) {}
    NotificationCenter* m_center = nullptr;
    std::uint64_t m_id = 0;
};

// Synchronous notifications by name. post() calls the observers registered
// for the name in registration order, on the posting thread. Observers may
// register or unregister (themselves or others) while a post is under way:
// one removed before its turn is not called, one added is called from the
// next post on.
class NotificationCenter {
public:
    using Callback = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    // Register for name. object, when given, restricts delivery to posts
    // naming that object. The returned Observation unregisters on destruction.
    [[nodiscard]] Observation observe(const QString& name, Callback callback, const void* object = nullptr);

    // Register for as long as context lives (Qt-style, no token to keep).
    void observe(const QString& name, QObject* context, Callback callback, const void* object = nullptr);

    void post(const QString& name, const void* object = nullptr);

    int observerCount(const QString& name) const;

    NotificationCenter();
    ~NotificationCenter();

private:
    friend class Observation;
    struct Entry {
        std::uint64_t id;
        QString name;
        const void* object;
        std::shared_ptr<Callback> callback;
        bool hasContext;
        QPointer<QObject> context;
    };
    std::uint64_t add(const QString& name, Callback callback, const void* object, QObject* context);
    void remove(std::uint64_t id);

    std::vector<Entry> m_entries;
    std::uint64_t m_nextId = 1;
};

} // namespace lumora
