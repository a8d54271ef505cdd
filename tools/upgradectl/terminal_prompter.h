#pragma once
// The upgrade command's message boxes on the terminal: every text goes to
// stderr, and the questions are answered from the command-line flags or,
// on a terminal without --yes, by the user.

#include <cstddef>
#include <istream>
#include <ostream>

#include "app/prompter.h"
#include "tools/upgradectl/status_line.h"

namespace quorvane::cli {

struct PromptPolicy {
    // --yes: the configuration-loss question and the devices are answered
    // Yes, and no question is asked on the terminal.
    bool confirmWarning = false;
    int retries = 0;           // how often the retry question is answered Yes per device
    bool interactive = false;  // stdin is a terminal: what no flag answers is asked there
};

class TerminalPrompter final : public Prompter {
public:
    TerminalPrompter(PromptPolicy policy, std::istream& in, std::ostream& err, StatusLine* status = nullptr)
        : policy_(policy), in_(in), err_(err), status_(status) {}

    void Tell(int messageId, const std::string& text, unsigned style) override;
    bool Ask(int messageId, const std::string& text, unsigned style) override;
    // The devices as a table (name, MAC, firmware, type), then the question.
    bool AskAbout(int messageId, const std::string& text, unsigned style,
                  const std::vector<AdmittedDevice>& devices) override;
    // The retry allowance is per device; a retry run of the same device keeps its count.
    void DeviceStarted(std::size_t index);

private:
    bool AskUser();
    bool Answer(bool yes, const char* why);

    PromptPolicy policy_;
    std::istream& in_;
    std::ostream& err_;
    StatusLine* status_;
    std::size_t device_ = static_cast<std::size_t>(-1);
    int retriesUsed_ = 0;
};

}  // namespace quorvane::cli
