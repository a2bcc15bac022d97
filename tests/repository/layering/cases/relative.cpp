#include "../high/high.h"
int Relative() { return High(); }
