#pragma once

#include <QString>
#include <QStringList>

// What the program was asked to do. No arguments runs the application, and so
// does a render flag with the wrong number of arguments around it; any other
// list that is not exactly one of the modes below is a usage error.
struct CommandLine {
    enum class Mode {
        run, // the tray application
        renderIcon, // "--render-icon DIR": the icon set into DIR, exit 0
        renderScreenshots, // "--render-screenshots DIR": three screenshots into DIR, exit 0 or 1
        waybar, // "--waybar": one JSON line per change, for a status bar
        once, // "--once [--text]": one refresh, one line, exit 0
        signIn, // "--sign-in": browser sign-in from a terminal
        signOut, // "--sign-out": forget the app's own session
        help, // "--help": usage on standard output, exit 0
        version, // "--version": the version on standard output, exit 0
        usageError, // anything else: `error` and the usage on standard error, exit 2
    };

    Mode mode = Mode::run;
    QString directory; // DIR of a render mode, as given
    bool text = false; // "--once --text": the tooltip lines instead of JSON
    QString error; // usageError: "unknown option '--onec'"

    // `arguments` includes the program name as its first entry.
    static CommandLine parse(const QStringList& arguments);
    static CommandLine parse(int argc, const char* const* argv);

    // The text "--help" prints; `program` is argument 0.
    static QString usage(const QString& program);

    friend bool operator==(const CommandLine&, const CommandLine&) = default;
};
