#include "app/gui/event_pumping_transport.h"

#include <QCoreApplication>
#include <QThread>

namespace quorvane {

bool EventPumpingTransport::Send(uint32_t address, std::span<const uint8_t> datagram) {
    return inner_.Send(address, datagram);
}

int EventPumpingTransport::Receive(uint32_t& sender, std::span<uint8_t> buffer,
                                   std::chrono::milliseconds wait) {
    QCoreApplication* app = QCoreApplication::instance();
    // User input stays queued: nothing may act on the list while it is being
    // rebuilt. A receive that does not wait cannot freeze the window.
    if (wait.count() > 0 && app != nullptr && QThread::currentThread() == app->thread())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return inner_.Receive(sender, buffer, wait);
}

}  // namespace quorvane
