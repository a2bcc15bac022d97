#include "side/side.h"
int Plugin() { return Side(); }
