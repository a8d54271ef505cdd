#include "protocol/info_block.h"
