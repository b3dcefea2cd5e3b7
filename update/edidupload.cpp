#include "edidupload.h"
