#include "check/visit_list.h"
