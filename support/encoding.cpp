#include "support/encoding.h"
