#include "protocol/device_chain.h"
