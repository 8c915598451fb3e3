// Time texts of the players: MM:SS below an hour, else HH:MM:SS.
#pragma once

#include <string>

// Whole seconds to "MM:SS" (under an hour) or "HH:MM:SS"; each part two digits, hours past 99
// keep only their last two digits.
std::string Seconds2HMS(long seconds);
