#pragma once

#include <QString>

#include <stdexcept>

// Launch at login as an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/velmo-usage.desktop, whose Exec starts this
// copy of the program (the AppImage when running from one).
//
// Only an installed copy can be started at login: an AppImage, or a binary
// in a prefix's bin/ folder that is not inside a CMake build tree (a build
// tree moves and is rebuilt under the entry's feet).
class LaunchAtLogin {
public:
    // A failed write or removal; what() is the reason, as shown to the user.
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // `configHome` holds the autostart folder; `executable` is this program;
    // `appImage` the AppImage it runs from, or empty.
    LaunchAtLogin(QString configHome, QString executable, QString appImage = {});
    // This process: XDG_CONFIG_HOME (or ~/.config), its binary and $APPIMAGE.
    static LaunchAtLogin forThisProcess();

    QString entryPath() const;
    // What the entry starts: the AppImage, else the executable.
    const QString& program() const;

    bool isAvailable() const;
    // The entry exists, starts this program (or any velmo-usage binary) and
    // is not switched off (Hidden=true, X-GNOME-Autostart-enabled=false).
    bool isEnabled() const;
    // Writes the entry (atomically) or removes it. Throws Error.
    void setEnabled(bool on) const;

    // A binary in a prefix's bin/ folder, outside any CMake build tree.
    static bool isInstalledCopy(const QString& executable);
    // The Exec value that runs `program`, quoted and escaped for a desktop entry.
    static QString execValue(const QString& program);
    // The program (first argument) of an Exec value; empty when there is none.
    static QString execProgram(const QString& exec);

private:
    QString m_configHome;
    QString m_executable;
    QString m_appImage;
};
