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

#include <csignal>
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

QString programName(int argc, char** argv)
{
    const QString program = argc > 0 ? QFileInfo(QString::fromLocal8Bit(argv[0])).fileName() : QString();
    return program.isEmpty() ? QStringLiteral("velmo-usage") : program;
}

} // namespace

// Entry point only: read the command line and run one mode.
int main(int argc, char** argv)
{
    // A status bar may ask for a refresh (SIGUSR1) before the mode has set up
    // its handler; that must not kill us. The handler replaces this later.
    std::signal(SIGUSR1, SIG_IGN);
    const CommandLine commandLine = CommandLine::parse(argc, argv);
    switch (commandLine.mode) {
    case CommandLine::Mode::renderIcon: {
        // Rendering for packaging runs on build machines without a display.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        const IconRenderer::Result result = IconRenderer::render(commandLine.directory);
        for (const auto& file : result.written)
            std::printf("Wrote %s (%d\u00D7%d)\n", qUtf8Printable(file.path), file.pixels, file.pixels);
        if (result.written.empty()) {
            std::fprintf(stderr, "render failed: %s\n",
                qUtf8Printable(result.failures.value(0, QStringLiteral("no icon could be drawn"))));
            return 1;
        }
        for (const QString& skipped : result.failures)
            std::fprintf(stderr, "skipped %s\n", qUtf8Printable(skipped));
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
    case CommandLine::Mode::help:
        std::fputs(qUtf8Printable(CommandLine::usage(programName(argc, argv))), stdout);
        return 0;
    case CommandLine::Mode::usageError:
        std::fprintf(stderr, "velmo-usage: %s\n\n%s", qUtf8Printable(commandLine.error),
            qUtf8Printable(CommandLine::usage(programName(argc, argv))));
        return 2;
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
