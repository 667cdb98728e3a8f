#include "store/site_table.h"
