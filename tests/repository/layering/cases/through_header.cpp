#include "low/leaky.h"
int ThroughHeader() { return Side(); }
