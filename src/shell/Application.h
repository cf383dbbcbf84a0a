#pragma once

class QApplication;

namespace lumora {

// The program: one running Lumora per user (a later launch hands its files
// to the running one and exits), the document controller and its start-up,
// the files and folders named on the command line, and a clean quit on
// SIGTERM, SIGINT or SIGHUP (documents save their edits first, as with
// Quit). Returns the exit status.
int runApplication(QApplication& app);

} // namespace lumora
