// Fake modules for the native bus tests; see bus_test_support.h.
#include "bus_test_support.h"

namespace trv::test {
namespace {

std::vector<Delivery> g_deliveries[4];
char g_handles[4];

template <int N>
void TRV_CALL Receive(CommandMessage* message) {
    Delivery delivery;
    delivery.name = message != nullptr && message->name != nullptr ? message->name : "(null)";
    delivery.copy = message != nullptr ? *message : CommandMessage{};
    g_deliveries[N].push_back(delivery);
    if (message != nullptr) {
        message->status = 1000 + N;  // an answer the caller can read
    }
}

}  // namespace

std::vector<Delivery>& DeliveriesOf(int module) { return g_deliveries[module]; }

CommandReceiver ReceiverOf(int module) {
    static const CommandReceiver receivers[4] = {&Receive<0>, &Receive<1>, &Receive<2>, &Receive<3>};
    return receivers[module];
}

TrvModule FakeModuleHandle(int module) { return &g_handles[module]; }

ModuleRecord* TestBus::AddFakeModule(int module, const std::vector<std::string>& names, bool withReceiver) {
    auto* record = static_cast<ModuleRecord*>(std::calloc(1, sizeof(ModuleRecord)));
    record->send = &trv::SendCommand;
    record->module = FakeModuleHandle(module);
    record->receive = withReceiver ? ReceiverOf(module) : nullptr;
    m_bus.AddModule(record->module, record);
    for (const std::string& name : names) {
        CommandMessage message{};
        message.kind = COMMAND_KIND_REGISTER;
        message.name = name.c_str();
        message.owner = record->module;
        record->send(&message);
    }
    return record;
}

}  // namespace trv::test
