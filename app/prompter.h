#pragma once
// Message boxes as the application logic sees them. The desktop program
// shows real boxes; the command line prints or asks on the terminal; tests
// script the answers.

#include <string>
#include <vector>

#include "package/device_summary.h"

namespace quorvane {

// Buttons and icon of a box, with the platform's values.
enum BoxStyle : unsigned {
    BOX_OK = 0x00,
    BOX_YES_NO = 0x04,
    ICON_STOP = 0x10,
    ICON_QUESTION = 0x20,
    ICON_WARNING = 0x30,
    ICON_INFORMATION = 0x40,
};

class Prompter {
public:
    virtual ~Prompter() = default;
    // An OK box. A box without an icon of its own shows the warning icon.
    virtual void Tell(int messageId, const std::string& text, unsigned style) = 0;
    // A Yes/No box; true for Yes.
    virtual bool Ask(int messageId, const std::string& text, unsigned style) = 0;
    // A Yes/No box about the devices listed before it, which are about to
    // be upgraded. Front ends that show the selection already ask only.
    virtual bool AskAbout(int messageId, const std::string& text, unsigned style,
                          const std::vector<AdmittedDevice>& devices) {
        (void)devices;
        return Ask(messageId, text, style);
    }
};

}  // namespace quorvane
