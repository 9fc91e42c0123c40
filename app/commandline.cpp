#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

namespace ormelin {

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Ормелин готовит объекты для Тарвикса и записывает их в его флэш."));
    // Our own help and version options, so that their descriptions are in the program's
    // language.
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") },
        QStringLiteral("Показать эту справку и выйти."));
    const QCommandLineOption version({ QStringLiteral("v"), QStringLiteral("version") },
        QStringLiteral("Показать версию и выйти."));
    const QCommandLineOption port({ QStringLiteral("p"), QStringLiteral("port") },
        QStringLiteral("Порт для связи с Тарвиксом вместо COM3: COM1…COM9, имя в /dev "
                       "(ttyUSB0, pts/3) или полный путь."),
        QStringLiteral("ИМЯ"));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(port);
    parser.addPositionalArgument(QStringLiteral("СПИСОК"),
        QStringLiteral("Файл списка (.orm), открываемый вместо последнего списка."),
        QStringLiteral("[СПИСОК]"));

    // Read before the application object exists, the parser does not know the program's name.
    QString helpText = parser.helpText();
    helpText.replace(QLatin1String("<executable_name>"),
        QFileInfo(arguments.value(0, QStringLiteral("ormelin"))).fileName());

    CommandLine out;
    const auto usageError = [&](const QString &text) {
        out.output = text + QLatin1Char('\n') + helpText;
        out.toErrorStream = true;
        out.exitCode = 2;
        return out;
    };
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        out.output = helpText;
        return out;
    }
    if (parser.isSet(version)) {
        out.output = QCoreApplication::applicationName() + QLatin1Char(' ')
            + QCoreApplication::applicationVersion() + QLatin1Char('\n');
        return out;
    }
    const QStringList lists = parser.positionalArguments();
    if (lists.size() > 1)
        return usageError(QStringLiteral("Можно открыть только один файл списка."));

    StartUpOptions options;
    // The file dialogs may change the current directory later; the list is remembered by the
    // full path it has now.
    if (!lists.isEmpty() && !lists.first().isEmpty())
        options.listPath = QFileInfo(lists.first()).absoluteFilePath();
    if (parser.isSet(port))
        options.port = parser.value(port);
    out.start = options;
    return out;
}

} // namespace ormelin
