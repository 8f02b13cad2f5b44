#pragma once

#include <QString>
#include <QStringList>

// What the program was asked to do. Only exact argument lists count: a flag
// with the wrong number of arguments around it runs the application.
struct CommandLine {
    enum class Mode {
        run, // the tray application
        renderIcon, // "--render-icon DIR": the icon set into DIR, exit 0
    };

    Mode mode = Mode::run;
    QString directory; // DIR of a render mode, as given

    // `arguments` includes the program name as its first entry.
    static CommandLine parse(const QStringList& arguments);
    static CommandLine parse(int argc, const char* const* argv);

    friend bool operator==(const CommandLine&, const CommandLine&) = default;
};
