#include "CommandLine.h"

CommandLine CommandLine::parse(const QStringList& arguments)
{
    if (arguments.size() == 3 && arguments.at(1) == QLatin1String("--render-icon"))
        return { Mode::renderIcon, arguments.at(2) };
    if (arguments.size() == 3 && arguments.at(1) == QLatin1String("--render-screenshots"))
        return { Mode::renderScreenshots, arguments.at(2) };
    if (arguments.size() == 3 && arguments.at(1) == QLatin1String("--once")
        && arguments.at(2) == QLatin1String("--text"))
        return { Mode::once, {}, true };
    if (arguments.size() != 2)
        return {};
    static const std::pair<QLatin1String, Mode> single[] = {
        { QLatin1String("--waybar"), Mode::waybar },
        { QLatin1String("--once"), Mode::once },
        { QLatin1String("--sign-in"), Mode::signIn },
        { QLatin1String("--sign-out"), Mode::signOut },
        { QLatin1String("--help"), Mode::help },
        { QLatin1String("--version"), Mode::version },
    };
    for (const auto& [flag, mode] : single) {
        if (arguments.at(1) == flag)
            return { mode, {} };
    }
    return {};
}

CommandLine CommandLine::parse(int argc, const char* const* argv)
{
    QStringList arguments;
    for (int i = 0; i < argc && argv && argv[i]; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return parse(arguments);
}

QString CommandLine::usage(const QString& program)
{
    return QStringLiteral(
               "Usage: %1 [MODE]\n"
               "\n"
               "Without a mode, runs the tray application.\n"
               "\n"
               "  --waybar            print one JSON line for a waybar custom module now and on\n"
               "                      every change (SIGUSR1 refreshes at once)\n"
               "  --once              refresh once, print that JSON line and exit\n"
               "  --once --text       refresh once, print the tooltip lines and exit\n"
               "  --sign-in           sign in through the browser; the address is printed too\n"
               "  --sign-out          forget this app's session (the velmo CLI's is kept)\n"
               "  --render-icon DIR   write the icon set into DIR\n"
               "  --render-screenshots DIR\n"
               "                      write screenshots of the panel, the settings and the tray\n"
               "                      item into DIR (from the cached data; no network)\n"
               "  --help              show this text\n"
               "  --version           show the version\n")
        .arg(program);
}
