#include "protocol/udp_endpoint.h"
