// The speaker without a screen as a program of its own: it links no window toolkit, so an idle
// speaker carries none of its libraries. vxPlayer --headless becomes this program.
#include "Headless.h"

#include <QCommandLineParser>
#include <QCoreApplication>

int main(int argc, char *argv[]) {
    QCoreApplication App(argc, argv);
    PrepareApplication(App);
    QCommandLineParser Parser;
    AddProgramOptions(Parser);
    Parser.process(App); // help, version and unknown options end here
    return RunHeadless(App);
}
