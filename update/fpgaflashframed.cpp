#include "fpgaflashframed.h"
