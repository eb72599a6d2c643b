#include "history/scan_support.h"
