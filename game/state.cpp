#include "game/state.h"

bool CheatMode = false;
bool pref = false;
// The seed question always sets it, from the answer or from the clock, before it is planted.
long long seed = 0;
PLAYER _P_;
