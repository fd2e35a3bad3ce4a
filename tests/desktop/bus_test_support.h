#pragma once
// Helpers for the native tests of the host's bus logic: a bus made current for one test, fake modules
// whose receivers record what reached them, and the release of the records the bus never frees.

#include <cstdlib>
#include <string>
#include <vector>

#include "command_bus.h"

namespace trv::test {

// A delivery as a fake module saw it.
struct Delivery {
    std::string name;
    CommandMessage copy;
};

// Up to four fake modules with their own receivers; each appends what it receives to its list.
std::vector<Delivery>& DeliveriesOf(int module);
CommandReceiver ReceiverOf(int module);
TrvModule FakeModuleHandle(int module);

// A bus that is the process's bus for the test and frees the module records when done.
class TestBus {
public:
    TestBus() : m_scope(m_bus) {
        for (int i = 0; i < 4; ++i) DeliveriesOf(i).clear();
    }
    ~TestBus() {
        for (ModuleRecord* record : m_bus.ModuleRecords()) std::free(record);
    }
    trv::CommandBus& bus() { return m_bus; }

    // Files a module record for fake module `module` and registers `names` for it through its `send`.
    ModuleRecord* AddFakeModule(int module, const std::vector<std::string>& names, bool withReceiver = true);

private:
    trv::CommandBus m_bus;
    trv::ScopedCurrentBus m_scope;
};

}  // namespace trv::test
