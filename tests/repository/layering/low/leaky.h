#pragma once
// A header of low that reaches beside it: whoever includes it reads side.
#include "side/side.h"
