#include "tools/upgradectl/terminal_prompter.h"

#include <string>

#include "app/column_text.h"
#include "res/string_ids.h"
#include "tools/upgradectl/command_error.h"
#include "tools/upgradectl/device_output.h"

namespace quorvane::cli {

void TerminalPrompter::Tell(int messageId, const std::string& text, unsigned) {
    if (status_) status_->Clear();
    // Under this id the run tells a refusal in its own words, which the
    // terminal says after the program's name as the package's refusals.
    if (messageId == IDS_INVALID_PACKAGE) err_ << MESSAGE_PREFIX;
    err_ << text << '\n' << std::flush;
}

bool TerminalPrompter::Ask(int messageId, const std::string& text, unsigned) {
    if (status_) status_->Clear();
    // The answer, typed or given, follows on the question's last line.
    err_ << text;
    if (messageId == IDS_CONFIGURATION_WARNING || messageId == IDS_UPGRADE_THESE || messageId == IDS_UPGRADE_THIS) {
        if (policy_.confirmWarning) return Answer(true, "--yes");
        if (policy_.interactive) return AskUser();
        return Answer(false, "no terminal to ask; pass --yes to confirm");
    }
    if (messageId == IDS_RETRY_PROMPT) {
        if (retriesUsed_ < policy_.retries) {
            ++retriesUsed_;
            const std::string why = "retry " + std::to_string(retriesUsed_) + " of " +
                                    std::to_string(policy_.retries) + " (--retries)";
            return Answer(true, why.c_str());
        }
        // Once --retries is used up the technician decides, as side by side
        // after the batch; --yes asks nothing.
        if (policy_.interactive && !policy_.confirmWarning) return AskUser();
        return Answer(false, policy_.retries == 0 ? "no --retries given" : "retries used up");
    }
    // A question this front end has no flag for is only ever answered by a person.
    if (policy_.interactive) return AskUser();
    return Answer(false, "no terminal to ask");
}

bool TerminalPrompter::AskAbout(int messageId, const std::string& text, unsigned style,
                                const std::vector<AdmittedDevice>& devices) {
    if (status_) status_->Clear();
    static constexpr int LISTED[] = {KEY_NAME, KEY_MAC, KEY_FIRMWARE, KEY_DEVICE_TYPE};
    PrintDeviceColumns(err_, devices, LISTED);
    return Ask(messageId, text, style);
}

void TerminalPrompter::DeviceStarted(std::size_t index) {
    if (index == device_) return;
    device_ = index;
    retriesUsed_ = 0;
}

bool TerminalPrompter::AskUser() {
    err_ << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(in_, answer)) {
        err_ << '\n';
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES";
}

bool TerminalPrompter::Answer(bool yes, const char* why) {
    err_ << '\n' << (yes ? "-> Yes (" : "-> No (") << why << ")\n" << std::flush;
    return yes;
}

}  // namespace quorvane::cli
