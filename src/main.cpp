#include "AppDelegate.h"
#include "AppInfo.h"
#include "CommandLine.h"
#include "HeadlessCommands.h"
#include "IconRenderer.h"
#include "Log.h"
#include "ScreenshotRenderer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>

namespace {

// The headless modes run without any window system.
int runHeadless(int argc, char** argv, const CommandLine& commandLine)
{
    QCoreApplication app(argc, argv);
    Log::installMessageHandler();
    switch (commandLine.mode) {
    case CommandLine::Mode::waybar:
        return HeadlessCommands::waybar();
    case CommandLine::Mode::once:
        return HeadlessCommands::once(commandLine.text);
    case CommandLine::Mode::signIn:
        return HeadlessCommands::signIn();
    case CommandLine::Mode::signOut:
        return HeadlessCommands::signOut();
    default:
        return 2;
    }
}

} // namespace

// Entry point only: read the command line and run one mode.
int main(int argc, char** argv)
{
    const CommandLine commandLine = CommandLine::parse(argc, argv);
    switch (commandLine.mode) {
    case CommandLine::Mode::renderIcon: {
        // Rendering for packaging runs on build machines without a display.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        IconRenderer::render(commandLine.directory);
        return 0;
    }
    case CommandLine::Mode::renderScreenshots: {
        // No display and no GPU needed: offscreen (the renderer draws in software).
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        Log::installMessageHandler();
        try {
            ScreenshotRenderer::render(commandLine.directory);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "render failed: %s\n", error.what());
            return 1;
        }
        return 0;
    }
    case CommandLine::Mode::help: {
        const QString program = argc > 0 ? QFileInfo(QString::fromLocal8Bit(argv[0])).fileName() : QString();
        std::fputs(qUtf8Printable(CommandLine::usage(program.isEmpty() ? QStringLiteral("velmo-usage") : program)),
            stdout);
        return 0;
    }
    case CommandLine::Mode::version:
        std::fputs(qUtf8Printable(QStringLiteral("velmo-usage %1\n").arg(AppInfo::current().versionLabel())), stdout);
        return 0;
    case CommandLine::Mode::waybar:
    case CommandLine::Mode::once:
    case CommandLine::Mode::signIn:
    case CommandLine::Mode::signOut:
        return runHeadless(argc, argv, commandLine);
    case CommandLine::Mode::run:
        break;
    }
    return AppDelegate::run(argc, argv);
}
