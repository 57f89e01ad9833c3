#include "game.h"

Game game;
