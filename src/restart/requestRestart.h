// Asks the system for an immediate, forced restart of this computer.
#pragma once

// Returns, without a result, whether or not the system accepted the request;
// shows nothing.
void requestRestart();
