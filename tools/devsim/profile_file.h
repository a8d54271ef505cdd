#pragma once
// The device-profile file: one device per line, "key=value" fields separated
// by spaces, values with spaces in double quotes, '#' starts a comment.
// Keys a line leaves out take the value the default set gives to the device
// at that position (see README.md).

#include <istream>
#include <string>
#include <vector>

#include "tools/devsim/device_profile.h"

namespace quorvane::devsim {

// Parses a whole profile. On failure `error` names the line and the problem
// and false is returned; `out` is written only on success.
// `blockSize` is the block size of devices whose line has no block= field.
bool ParseProfiles(std::istream& in, std::vector<DeviceProfile>& out, std::string& error,
                   uint16_t blockSize = DEFAULT_BLOCK_SIZE);
bool LoadProfileFile(const std::string& path, std::vector<DeviceProfile>& out, std::string& error,
                     uint16_t blockSize = DEFAULT_BLOCK_SIZE);

// "4.1.0 12/01/26": a version and a date as the version= and date= keys
// take them, with one space between.
bool ParseFirmwareRelease(const std::string& text, FirmwareRelease& release);

// Applies one "key=value" field to a profile; false with `error` on an unknown
// key or a bad value.
bool ApplyProfileField(const std::string& key, const std::string& value, DeviceProfile& profile,
                       std::string& error);

}  // namespace quorvane::devsim
