#include "store/text_file.h"
