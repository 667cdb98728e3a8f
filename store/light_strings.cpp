#include "store/light_strings.h"
