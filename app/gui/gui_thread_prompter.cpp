#include "app/gui/gui_thread_prompter.h"

#include <QCoreApplication>
#include <QThread>

namespace quorvane {
namespace {

// Runs `call` on the application's thread and returns when it is done.
template <typename Call>
void OnGuiThread(Call&& call) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(app, std::forward<Call>(call), Qt::BlockingQueuedConnection);
}

}  // namespace

void GuiThreadPrompter::Tell(int messageId, const std::string& text, unsigned style) {
    OnGuiThread([&] { inner_.Tell(messageId, text, style); });
}

bool GuiThreadPrompter::Ask(int messageId, const std::string& text, unsigned style) {
    bool answer = false;
    OnGuiThread([&] { answer = inner_.Ask(messageId, text, style); });
    return answer;
}

}  // namespace quorvane
