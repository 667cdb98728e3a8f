#include "support/html_text.h"
