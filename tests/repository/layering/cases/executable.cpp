#include "high/high.h"
int main() { return High(); }
