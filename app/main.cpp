#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[]) {
    QApplication App(argc, argv);
    QMainWindow W;
    W.setWindowTitle("Vellox Player");
    W.show();
    return App.exec();
}
