#include "check/dates.h"
