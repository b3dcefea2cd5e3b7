#include "updatetask.h"
