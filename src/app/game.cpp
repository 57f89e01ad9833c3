#include "app/game.h"

Game game;
