#include "repairdevice.h"
