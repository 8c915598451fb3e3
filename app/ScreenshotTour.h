// A short tour for the documentation: with ORIVELR_SCREENSHOTS=DIR the program saves the
// warning window, accepts it, plays ORIVELR_SCREENSHOT_SONG with the remover on, saves the
// main window and ends.
#pragma once

class Form2;

// Starts the tour when ORIVELR_SCREENSHOTS is set; returns whether it did.
bool startScreenshotTour(Form2& warning);
