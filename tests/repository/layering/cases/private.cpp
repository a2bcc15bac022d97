#include "low/secret.h"
int Private() { return Secret(); }
