#pragma once
// Lets a worker thread ask questions: every box is shown on the
// user-interface thread while the asking thread waits for the answer.

#include "app/prompter.h"

namespace quorvane {

class GuiThreadPrompter final : public Prompter {
public:
    explicit GuiThreadPrompter(Prompter& inner) : inner_(inner) {}
    void Tell(int messageId, const std::string& text, unsigned style) override;
    bool Ask(int messageId, const std::string& text, unsigned style) override;

private:
    Prompter& inner_;
};

}  // namespace quorvane
