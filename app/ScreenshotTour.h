// A short tour for the documentation: with ORIVELR_SCREENSHOTS=DIR the program saves the
// warning window, accepts it, plays ORIVELR_SCREENSHOT_SONG with the remover on and saves the
// main window, plays ORIVELR_SCREENSHOT_KAR with its words and records a take over it, saves
// the CD window (on ORIVELR_CD_IMAGES), the converter and the help window, and ends.
#pragma once

class Form2;

// Starts the tour when ORIVELR_SCREENSHOTS is set; returns whether it did.
bool startScreenshotTour(Form2& warning);
