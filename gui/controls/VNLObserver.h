#pragma once
// VNLObserver: the receiving side of the UI control set's notification channel. A dialog or page window
// that wants a subject's notifications derives from it and overrides Update. UI thread only.

class VNLObserver {
public:
    virtual ~VNLObserver();
    // `data` is owned by the notifier and valid only during the call; `code` is agreed per pair of classes.
    virtual void Update(void* data, int code);
};
