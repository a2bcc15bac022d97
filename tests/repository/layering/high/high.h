#pragma once
#include <low/low.h>
int High();
