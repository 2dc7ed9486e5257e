#include "game/state.h"

#include <ctime>

bool CheatMode = false;
bool pref = false;
long long seed = std::time(nullptr);
PLAYER _P_;
