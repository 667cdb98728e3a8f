#include "store/site_record.h"
