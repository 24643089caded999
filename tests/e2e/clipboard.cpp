// Prints the X clipboard's text to standard output: how the end-to-end
// tests read what a person copied from a window.

#include <QClipboard>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    std::fputs(QGuiApplication::clipboard()->text().toUtf8().constData(), stdout);
    return 0;
}
