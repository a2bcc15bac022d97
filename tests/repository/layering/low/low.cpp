#include "low/low.h"
#include "low/secret.h"
int Low() { return Secret(); }
