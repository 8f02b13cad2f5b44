#include "CommandLine.h"

CommandLine CommandLine::parse(const QStringList& arguments)
{
    if (arguments.size() == 3 && arguments.at(1) == QLatin1String("--render-icon"))
        return { Mode::renderIcon, arguments.at(2) };
    return {};
}

CommandLine CommandLine::parse(int argc, const char* const* argv)
{
    QStringList arguments;
    for (int i = 0; i < argc && argv && argv[i]; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return parse(arguments);
}
