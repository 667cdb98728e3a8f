#include "store/site_data.h"
