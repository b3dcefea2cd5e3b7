#include "updatesteps.h"
