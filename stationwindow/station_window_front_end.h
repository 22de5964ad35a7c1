#pragma once

// Installs the station window as the station's --window: it opens on the desktop when one is
// usable (judged before Qt starts, as for the dialog), with Qt's standard message boxes.
// argc and argv as main receives them; both must outlive the program's command.
void InstallStationWindow(int& argc, char** argv);
