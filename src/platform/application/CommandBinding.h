#pragma once

#include "platform/application/Menu.h"
#include "platform/foundation/Localization.h"

#include <QObject>
#include <QPointer>
#include <QVariant>

#include <functional>
#include <type_traits>
#include <utility>

namespace lumora {

// How one kind of object carries out a command and validates the items that
// send it. Made with on<T>() (or onVia<T>()), below.
struct CommandBinding {
    // The object this binding acts on, given an object of the responder
    // chain; none when it does not serve that one.
    std::function<void*(QObject*)> target;
    std::function<void(void* object, MenuItem* sender)> perform;
    // Whether the item is enabled; may also set its title, check mark and
    // hidden flag.
    std::function<bool(void* object, MenuItem& item)> validate;
};

// Builds a CommandBinding for objects of type T: what runs, and what the
// command's items show while T is the object that would run it. A run is
// any callable (a member function pointer, mostly) taking T&, and then
// nothing, the sender's represented value (a choice among values; an empty
// QVariant when the program sends the command) or the sender itself (none
// when the program sends it).
template <typename T>
class Bind {
public:
    using Resolve = std::function<T*(QObject*)>;

    template <typename Run>
    Bind(Resolve resolve, Run run) : m_resolve(std::move(resolve)), m_run(adapt(std::move(run)))
    {
    }

    // Enabled only while the predicate holds (enabled otherwise).
    template <typename Predicate>
    Bind enabledIf(Predicate predicate) &&
    {
        m_enabled = test(std::move(predicate));
        return std::move(*this);
    }
    // Checked while the predicate holds: of T alone, or of T and the item's
    // represented value (one item per value).
    template <typename Predicate>
    Bind checkedIf(Predicate predicate) &&
    {
        if constexpr (std::is_invocable_r_v<bool, Predicate, T&, const QVariant&>) {
            m_checked = [predicate](T& object, const QVariant& value) { return std::invoke(predicate, object, value); };
        } else {
            m_checked = [predicate](T& object, const QVariant&) { return std::invoke(predicate, object); };
        }
        return std::move(*this);
    }
    template <typename Predicate>
    Bind hiddenIf(Predicate predicate) &&
    {
        m_hidden = test(std::move(predicate));
        return std::move(*this);
    }
    // Titled with one key while the predicate holds, another otherwise (a
    // toggle names what it will do).
    template <typename Predicate>
    Bind titled(Predicate predicate, const char* whenTrue, const char* whenFalse) &&
    {
        m_titled = test(std::move(predicate));
        m_titles = {whenTrue, whenFalse};
        return std::move(*this);
    }
    // Validation of its own, after the predicates above: sets what it needs
    // on the item and says whether it is enabled.
    template <typename Validate>
    Bind validatedBy(Validate validate) &&
    {
        m_validate = [validate](T& object, MenuItem& item) -> bool { return std::invoke(validate, object, item); };
        return std::move(*this);
    }
    // Serves the command only while the predicate holds; otherwise the chain
    // goes on as if T did not carry it.
    template <typename Predicate>
    Bind servesIf(Predicate predicate) &&
    {
        m_serves = test(std::move(predicate));
        return std::move(*this);
    }
    // Runs only while enabledIf() holds, whoever sends it: the program too,
    // and an item validated a while ago.
    Bind checksBeforeRunning() &&
    {
        m_checks = true;
        return std::move(*this);
    }

    operator CommandBinding() &&
    {
        CommandBinding binding;
        binding.target = [resolve = m_resolve, serves = m_serves](QObject* candidate) -> void* {
            T* object = candidate ? resolve(candidate) : nullptr;
            if (object && serves && !serves(*object)) return nullptr;
            return object;
        };
        binding.perform = [run = m_run, enabled = m_enabled, checks = m_checks](void* object, MenuItem* sender) {
            T& target = *static_cast<T*>(object);
            if (checks && enabled && !enabled(target)) return;
            run(target, sender);
        };
        binding.validate = [*this](void* object, MenuItem& item) {
            T& target = *static_cast<T*>(object);
            if (m_titled) item.setTitle(localized(m_titled(target) ? m_titles.first : m_titles.second));
            if (m_hidden) item.setHidden(m_hidden(target));
            if (m_checked)
                item.setState(m_checked(target, item.representedObject()) ? MenuItem::State::on : MenuItem::State::off);
            bool enabled = m_enabled ? m_enabled(target) : true;
            if (m_validate) enabled = m_validate(target, item);
            return enabled;
        };
        return binding;
    }

private:
    template <typename Predicate>
    static std::function<bool(T&)> test(Predicate predicate)
    {
        return [predicate](T& object) -> bool { return std::invoke(predicate, object); };
    }

    template <typename Run>
    static std::function<void(T&, MenuItem*)> adapt(Run run)
    {
        if constexpr (std::is_invocable_v<Run, T&>) {
            return [run](T& object, MenuItem*) { std::invoke(run, object); };
        } else if constexpr (std::is_invocable_v<Run, T&, const QVariant&>) {
            return [run](T& object, MenuItem* sender) {
                std::invoke(run, object, sender ? sender->representedObject() : QVariant());
            };
        } else {
            static_assert(std::is_invocable_v<Run, T&, MenuItem*>, "a command runs on T&, with a value or a sender");
            return [run](T& object, MenuItem* sender) { std::invoke(run, object, sender); };
        }
    }

    Resolve m_resolve;
    std::function<void(T&, MenuItem*)> m_run;
    std::function<bool(T&)> m_enabled;
    std::function<bool(T&, const QVariant&)> m_checked;
    std::function<bool(T&)> m_hidden;
    std::function<bool(T&)> m_titled;
    std::pair<const char*, const char*> m_titles{nullptr, nullptr};
    std::function<bool(T&, MenuItem&)> m_validate;
    std::function<bool(T&)> m_serves;
    bool m_checks = false;
};

// A binding for the objects of the chain that are a T.
template <typename T, typename Run>
Bind<T> on(Run run)
{
    return Bind<T>([](QObject* object) { return dynamic_cast<T*>(object); }, std::move(run));
}

namespace detail {
template <typename T>
struct IsQPointer : std::false_type {};
template <typename T>
struct IsQPointer<QPointer<T>> : std::true_type {};

// What a getter gives, as a pointer: a pointer, a QPointer or a reference.
template <typename R>
auto* pointerOf(R&& value)
{
    using Plain = std::remove_cvref_t<R>;
    if constexpr (std::is_pointer_v<Plain>) return value;
    else if constexpr (IsQPointer<Plain>::value) return value.data();
    else return &value;
}
} // namespace detail

// A binding for the T that an object of the chain leads to (a window's
// controller to its document, an editor to its text services).
template <typename T, typename From, typename R, typename Run>
Bind<T> onVia(R (From::*get)() const, Run run)
{
    return Bind<T>(
        [get](QObject* object) -> T* {
            const From* from = dynamic_cast<const From*>(object);
            return from ? static_cast<T*>(detail::pointerOf((from->*get)())) : nullptr;
        },
        std::move(run));
}

} // namespace lumora
