#include "CommandLine.h"

#include <algorithm>
#include <iterator>

CommandLine CommandLine::parse(const QStringList& arguments)
{
    if (arguments.size() <= 1)
        return {};
    const QString& first = arguments.at(1);
    for (const auto& [flag, mode] : { std::pair { QLatin1String("--render-icon"), Mode::renderIcon },
             std::pair { QLatin1String("--render-screenshots"), Mode::renderScreenshots } }) {
        if (first == flag)
            return arguments.size() == 3 ? CommandLine { mode, arguments.at(2) } : CommandLine {};
    }
    static const std::pair<QLatin1String, Mode> single[] = {
        { QLatin1String("--waybar"), Mode::waybar },
        { QLatin1String("--once"), Mode::once },
        { QLatin1String("--sign-in"), Mode::signIn },
        { QLatin1String("--sign-out"), Mode::signOut },
        { QLatin1String("--help"), Mode::help },
        { QLatin1String("--version"), Mode::version },
    };
    const auto known = [&](const QString& argument) {
        return argument == QLatin1String("--text") || argument == QLatin1String("--render-icon")
            || argument == QLatin1String("--render-screenshots")
            || std::any_of(std::begin(single), std::end(single), [&](const auto& s) { return argument == s.first; });
    };
    // The first argument that does not fit names the mistake.
    auto misfit = [&](const QString& argument) {
        CommandLine out { Mode::usageError };
        out.error = known(argument) ? QStringLiteral("unexpected option '%1'").arg(argument)
                                    : QStringLiteral("unknown option '%1'").arg(argument);
        return out;
    };
    const auto found = std::find_if(std::begin(single), std::end(single), [&](const auto& s) { return first == s.first; });
    if (found == std::end(single))
        return misfit(first);
    if (arguments.size() == 2)
        return { found->second };
    if (found->second == Mode::once && arguments.at(2) == QLatin1String("--text")) {
        if (arguments.size() == 3)
            return { Mode::once, {}, true };
        return misfit(arguments.at(3));
    }
    return misfit(arguments.at(2));
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
