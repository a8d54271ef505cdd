#include "protocol/device_record.h"
