#pragma once

#include <QCommandLineOption>

class QCommandLineParser;
class QCoreApplication;

// The program's options (help, version, --headless) on Parser; the --headless one.
QCommandLineOption AddProgramOptions(QCommandLineParser &Parser);
// What every start does first with its application object: the numeric locale, the name and
// the version.
void PrepareApplication(QCoreApplication &App);
// The speaker without a screen, started as the desktop starts (single instance, the same
// settings and library), run until SIGTERM or SIGINT closes it; the exit status.
int RunHeadless(QCoreApplication &App);
