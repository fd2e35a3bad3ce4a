// VNLObserver; see VNLObserver.h.
#include "VNLObserver.h"

VNLObserver::~VNLObserver() = default;

void VNLObserver::Update(void*, int) {}
