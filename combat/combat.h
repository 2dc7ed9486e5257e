// Combat: one attack of one character on another, and the duel between the hero and an enemy
// with its two-column fight screen.
#pragma once

#include <utility>

#include "character/character.h"

// A fight's result: whether the hero came through, and the rounds it took.
using FightResult = std::pair<bool, int>;

// plr attacks ai; K is the attacker's number of charges, used up by the attack.
void Attack(PLAYER &plr, PLAYER &ai, int &K);

void FightINIT(PLAYER &plr);
void FightUI(PLAYER &plr, PLAYER &ai);
// The hero plr against a copy of the enemy ai: (came through, rounds), or (false, INT_MAX).
FightResult Fight(PLAYER &plr, PLAYER ai);
