#pragma once
int Side();
