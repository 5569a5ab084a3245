#pragma once

// Runs the tray application until the user quits; returns the process exit code.
int runDesktopApplication(int argc, char** argv);
