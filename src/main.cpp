#include "CommandLine.h"
#include "IconRenderer.h"

#include <QGuiApplication>

#include <cstdio>

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
    case CommandLine::Mode::run:
        break;
    }
    std::fputs("velmo-usage: the tray application is not available in this build yet\n", stderr);
    return 2;
}
