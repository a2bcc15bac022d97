#define KORVO_FIXTURE_HEADER "high/high.h"
#include KORVO_FIXTURE_HEADER
int Macro() { return High(); }
