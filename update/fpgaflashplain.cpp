#include "fpgaflashplain.h"
