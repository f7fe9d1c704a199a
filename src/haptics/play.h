// play: builds one step's actuation description, has the framework create an
// actuation from it and fires it on every motor; "no actuation" if none is made.
#pragma once

#include "driver/step.h"

void play(const Step& step, float strength);
