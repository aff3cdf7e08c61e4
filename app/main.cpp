// Varnok: shows and edits the definitions of record-manager data files, creates files from them
// and copies records between them.
#include "Unit1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(ApplicationTitle));
    TVarnok window;
    window.show();
    return QApplication::exec();
}
