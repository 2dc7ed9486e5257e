// The tier: up to 12 layers of 3 rooms with 3 lives, stars for fast wins, and levels for stars.
#pragma once

void tier();
int Deep(int lv, int life);  // plays layer lv and the deeper ones reached; returns their stars
int stars_to_levels(int stars);
