#pragma once

class QApplication;

namespace lumora {

// The program: one running Lumora per user (a later launch hands its files
// to the running one and exits), the document controller and its start-up,
// the files and folders named on the command line, and a clean quit on
// SIGTERM, SIGINT or SIGHUP (documents save their edits first, as with
// Quit). Returns the exit status.
//
// argc and argv are main's, as the application object left them (without
// Qt's own options): file names are taken from their bytes, since
// QApplication::arguments() cannot keep a name that is not UTF-8.
int runApplication(QApplication& app, int argc, char* argv[]);

} // namespace lumora
