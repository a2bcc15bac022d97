#pragma once
inline int Secret() { return 7; }
