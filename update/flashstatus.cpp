#include "flashstatus.h"
