#include "fx3flash.h"
