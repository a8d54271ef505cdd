#include "res/string_table.h"

#include <algorithm>
#include <iterator>

namespace quorvane {
namespace {

struct Entry {
    int id;
    const char* text;
};

// Sorted by id for the binary search below.
constexpr Entry TABLE[] = {
    {IDS_ABOUT_MENU, "&About Upgrade..."},
    {IDS_SOCKETS_FAILED, "Network initialization failed."},
    {IDS_TYPE_SINGLE_SERIAL, "Single Serial"},
    {IDS_TYPE_DUAL_SERIAL, "Dual Serial"},
    {IDS_TYPE_QUAD_SERIAL, "Quad Serial"},
    {IDS_TYPE_PARALLEL, "Parallel"},
    {IDS_TYPE_2SP, "2SP?"},
    {IDS_TYPE_DUAL_PARALLEL, "Dual Parallel"},
    {IDS_TYPE_1SP, "1SP?"},
    {IDS_TYPE_8_PORT_SERIAL, "8-Port Serial"},
    {IDS_TYPE_16_PORT_SERIAL, "16-Port Serial"},
    {IDS_TYPE_8_PORT_USIA, "8-Port USIA"},
    {IDS_TYPE_UNKNOWN, "Unknown"},
    {IDS_CONNECTOR_DB9, "(DB9)"},
    {IDS_CONNECTOR_RJ45, "(RJ45)"},
    {IDS_CONNECTOR_TTL, "(TTL)"},
    {IDS_CONNECTOR_RS485, "(RS485, RJ45)"},
    {IDS_CONNECTOR_RS422, "(RS422, RJ45)"},
    {IDS_CONNECTOR_UNKNOWN, "(Unknown)"},
    {IDS_COMPANY_KEY, "Quorvane"},
    {IDS_PACKAGE_EXTENSION, "upk"},
    {IDS_PACKAGE_FILTER, "Quorvane Upgrade Files (*.upk)|*.upk|All Files (*.*)|*.*||"},
    {IDS_OPEN_TITLE, "Select Upgrade File"},
    {IDS_INVALID_PACKAGE, "Invalid Upgrade File"},
    {IDS_COLUMN_NAME, "Name"},
    {IDS_COLUMN_MAC, "MAC"},
    {IDS_COLUMN_FIRMWARE, "Firmware Date"},
    {IDS_COLUMN_DEVICE_TYPE, "Device Type"},
    {IDS_WINDOW_TITLE, "Quorvane Firmware Upgrade: %1"},
    {IDS_ROW_PLACEHOLDER, "Quorvane Dovrelink"},
    {IDS_NAME_FROM_MAC, "%02x %02x %02x"},
    {IDS_MAC_TEXT, "%02x:%02x:%02x:%02x:%02x:%02x"},
    {IDS_FIRMWARE_TEXT, "v %c%c%c %d.%d.%d %02d/%02d/%02d"},
    {IDS_FIRMWARE_UPGRADE, "Upgrade"},
    {IDS_RETRY_PROMPT,
     "Upgrade failed on device with MAC address %02x:%02x:%02x:%02x:%02x:%02x.\n"
     "Would you like to retry the upgrade now?"},
    {IDS_UPGRADE_GIVEN_UP,
     "I am sorry for the failure. Please retry the upgrade with a cross-over cable or when there is less "
     "network traffic.\nNote: The device will not function until the upgrade is completed."},
    {IDS_UPGRADE_COMPLETE, "Upgrade complete. Please use the Manager to reconfigure any upgraded devices."},
    {IDS_CONFIGURATION_WARNING,
     "Devices selected for upgrade will lose their configuration settings. Do you wish to continue?"},
    {IDS_CONNECTOR_CABLED, "(Cabled)"},
    {IDS_DEVICE_TYPE_TEXT, "%1 %2"},
    {IDS_FIRMWARE_REFUSED,
     "The firmware currently inside this device is not compatible with this upgrade file. Please use the "
     "correct upgrade file !"},
    {IDS_MAC_REFUSED,
     "The MAC address of the device is not compatible with this upgrade file. Please use the correct upgrade "
     "file !"},
    {IDS_PACKAGE_WARNINGS, "The upgrade file opened with these warnings:"},
    {IDS_RETRY_TOGETHER,
     "Upgrade failed on the devices with MAC addresses %1.\nWould you like to retry the upgrade on them "
     "now?"},
    {IDS_RETRY_ONE,
     "Upgrade failed on the device with MAC address %1.\nWould you like to retry the upgrade on it now?"},
    {IDS_PROGRESS_PACE, "%1 KiB/s, %2 left"},
    {IDS_PROGRESS_RESENDS, "Resends: %1"},
    {IDS_LOCAL_FAILURE,
     "The upgrade stopped because of a problem on this computer, not on the network:\n%1\nNote: A device "
     "whose upgrade had begun will not function until the upgrade is completed."},
    {IDS_MAC_SHARED,
     "The MAC address %1 answered as more than one device. Requests are addressed by MAC alone, so it "
     "cannot be upgraded until every device has a MAC of its own."},
    {IDS_DUPLICATE_MARK, " (duplicate)"},
    {IDS_JOBS_LOWERED,
     "only %1 of %2 devices can be upgraded at once here (%3); the others wait for a free place"},
    {IDS_FAULT_NO_ANSWER, "no answer to %1 after %2 sends"},
    {IDS_FAULT_WRONG_ECHO, "wrong echo of %1 (%2 sends)"},
    {IDS_FAULT_WRONG_REPLY, "no usable answer to %1 (%2 sends)"},
    {IDS_FAULT_CHECKSUM, "the device reported checksum %1, expected %2"},
    {IDS_FAULT_BLOCK_SIZE, "%1 refused: block size %2"},
    {IDS_FAULT_NOT_SENT, "%1 could not be sent: %2"},
    {IDS_WAITING_FOR_ANSWER, "waiting for %1, send %2 of %3"},
    {IDS_REFUSED_VALUE, "%1 %2, the package needs %3"},
    {IDS_UPGRADE_THESE, "Upgrade these %1 devices?"},
    {IDS_UPGRADE_THIS, "Upgrade this device?"},
    {IDS_LEFT_MID_SCRIPT, "interrupted; %1 was left mid-script and is probably still in programming mode"},
    {IDS_NONE_LEFT_MID_SCRIPT, "interrupted; no device was left mid-script"},
    {IDS_NOT_STARTED, "not started: %1"},
    {IDS_STOPPING, "Stopping after the exchange under way..."},
    {IDS_COLUMN_IP, "IP"},
    {IDS_COLUMN_LAST_RESULT, "Last result"},
    {IDS_NO_DEVICE_ANSWERED, "no device answered the discovery sent by %1 to %2 port %3"},
    {IDS_OTHER_INTERFACE_COMMAND,
     "`upgradectl interfaces` lists the interfaces; --interface NAME sends by another one"},
    {IDS_OTHER_INTERFACE_OPTION, "the program started with --interface NAME sends by another interface"},
    {IDS_FIREWALL_RULE,
     "a host firewall must let the replies in, for example: sudo nft add rule inet filter input udp sport %1 "
     "accept"},
    {IDS_SIGNED_TITLE, "%1 - signed by %2"},
    {IDS_WAITING_FOR_RETURN, "Waiting for the device to come back"},
    {IDS_NOT_BACK, "Device %1 did not come back within %2 s after its reset"},
    {IDS_FIRMWARE_CHANGED, "firmware %1 -> %2"},
    {IDS_FIRMWARE_UNCHANGED, "firmware %1, unchanged"},
    {IDS_NOT_BACK_LIST, "These devices did not come back after their reset:"},
    {IDS_HISTORY_NOT_RECORDED, "This upgrade is not recorded in the history: %1"},
    {IDS_HISTORY_REFUSED, "The history cannot be written: %1; nothing was sent"},
    {IDS_HISTORY_UNFINISHED, "%1 (run did not finish)"},
    {IDS_HISTORY_MENU, "&History..."},
    {IDS_HISTORY_TITLE, "Upgrade History"},
    {IDS_HISTORY_EMPTY, "No upgrade has been recorded yet."},
    {IDS_HISTORY_UNREADABLE, "The history cannot be read: %1"},
    {IDS_CANARY_FAILED, "a canary failed, so the run stopped; not started: %1 of %2 devices"},
    {IDS_BUDGET_REACHED,
     "the failure budget of %2 is reached (%1 failed), so the run stopped; not started: %3 of %4 "
     "devices"},
    {IDS_HISTORY_NOT_CHECKED, "%1 -> not checked"},
};

constexpr bool SortedById() {
    for (std::size_t i = 1; i < std::size(TABLE); ++i)
        if (TABLE[i - 1].id >= TABLE[i].id) return false;
    return true;
}
static_assert(SortedById(), "the string table must stay sorted by id");

}  // namespace

std::string LoadString(int id) {
    const auto* end = std::end(TABLE);
    const auto* found = std::lower_bound(std::begin(TABLE), end, id,
                                         [](const Entry& entry, int key) { return entry.id < key; });
    if (found == end || found->id != id) return {};
    return found->text;
}

}  // namespace quorvane
