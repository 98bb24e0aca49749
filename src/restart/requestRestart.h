// Asks the system for an immediate, forced restart of this computer.
#pragma once

// Returns whether or not the system accepted; shows nothing.
void requestRestart();
