#include "fx3bootload.h"
