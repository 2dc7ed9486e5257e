// The top of the game: start-up and the main loop. The programs call play_game(); the hall calls
// it for every run it plays again.
#pragma once

// The whole game from start-up: the console, the hero, the three questions and the maze, then
// the main loop. It returns when a fight on the map is lost; every other end leaves the game.
void play_game();
void Game(int x, int y);  // the main loop, from the hero's square
