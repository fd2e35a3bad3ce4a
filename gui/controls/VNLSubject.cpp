// VNLSubject; see VNLSubject.h.
#include "VNLSubject.h"

#include "VNLObserver.h"

VNLSubject::~VNLSubject() = default;

void VNLSubject::NotifyObservers(void* data, int code) {
    // A copy: an observer may detach itself (or another) while it is being notified.
    const std::list<VNLObserver*> observers = m_observers;
    for (VNLObserver* observer : observers) {
        observer->Update(data, code);
    }
}

void VNLSubject::AttachObserver(VNLObserver* observer) {
    if (observer != nullptr) {
        m_observers.push_back(observer);
    }
}

void VNLSubject::DetachObserver(VNLObserver* observer) { m_observers.remove(observer); }
