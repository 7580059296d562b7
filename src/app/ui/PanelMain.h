#pragma once
// The panel program: its command line (--capture FILE, --help, --version), then the
// main window until it closes.
class QApplication;

// Reads the application's arguments; --help and --version print and end the
// program, a bad option prints why and ends it with 1. Returns the exit code.
int runPanel(QApplication& app);
