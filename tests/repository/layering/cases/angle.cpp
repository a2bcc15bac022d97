#include <high/high.h>
int Angle() { return High(); }
