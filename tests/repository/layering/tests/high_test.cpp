#include "low/secret.h"
int main() { return Secret() == 7 ? 0 : 1; }
