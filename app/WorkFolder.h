// Where the program keeps its work files ("NEWWAVE.WAV", "TRACK.WAV", ...), and the two path
// helpers of the main window.
#pragma once

#include <QString>

namespace app {

// $ORIVELR_HOME, else $XDG_DATA_HOME/orivelR, else ~/.local/share/orivelR. Created on demand.
QString workFolder();
bool ensureWorkFolder();
// A work file's full path.
QString workFile(const QString& name);

}  // namespace app

// `fp` with a trailing "/" added when it has none.
QString RPP(const QString& fp);
// True when `FileName` names an existing file; any error gives false.
bool FileExists(const QString& FileName);
