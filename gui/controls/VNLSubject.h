#pragma once
// VNLSubject: the notifying side of the UI control set's notification channel. It keeps non-owning
// pointers to its observers in insertion order and calls each one's Update once per notification. An
// observer must stay alive while it is attached; destroying the subject never touches the observers.
// UI thread only; no locking.

#include <cstddef>
#include <list>

class VNLObserver;

class VNLSubject {
public:
    VNLSubject() = default;
    virtual ~VNLSubject();
    VNLSubject(const VNLSubject&) = delete;
    VNLSubject& operator=(const VNLSubject&) = delete;

    virtual void NotifyObservers(void* data, int code);

    // Appends an observer (the same observer may be attached twice and is then called twice).
    void AttachObserver(VNLObserver* observer);
    // Removes every attachment of the observer.
    void DetachObserver(VNLObserver* observer);
    size_t ObserverCount() const { return m_observers.size(); }

private:
    std::list<VNLObserver*> m_observers;
};
