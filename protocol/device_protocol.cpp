#include "protocol/device_protocol.h"
