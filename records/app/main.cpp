// Varnok Records: any record-manager data file's records as named, typed columns.
#include "Presenter.h"
#include "RecordsWindow.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(records::RecordsTitle));
    QApplication::setOrganizationName(QStringLiteral("Varnok"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows the records of a record-manager data file as a table."));
    parser.addHelpOption();
    parser.addPositionalArgument(
        QStringLiteral("file"), QStringLiteral("The data file to open."), QStringLiteral("[FILE]"));
    parser.process(app);
    records::RecordsWindow window;
    window.show();
    if (!parser.positionalArguments().isEmpty())
        window.openFile(parser.positionalArguments().constFirst());
    return QApplication::exec();
}
