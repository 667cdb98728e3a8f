#include "support/web_fetch.h"
