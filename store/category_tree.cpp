#include "store/category_tree.h"
