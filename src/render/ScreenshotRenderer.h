#pragma once

#include "StoredTokens.h"
#include "Timestamp.h"

#include <QImage>
#include <QString>

#include <cstdio>
#include <stdexcept>

class AppContainer;

// Draws three pictures of the interface into a folder, with the same views
// as the running application and without touching the network: the panel
// (panel.png), the settings window (settings.png) and the tray item
// (menubar.png). The data is whatever snapshot the application last cached;
// the session is a placeholder held in memory; the palette is always light.
class ScreenshotRenderer {
public:
    // What failed: the folder, a view, or a file. what() is the message.
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // Creates `directory` (with missing parents) and writes the three files,
    // printing "Wrote PATH (W×H)" for each on `out`. The first failure
    // throws; the files written before it stay.
    static void render(const QString& directory, std::FILE* out = stdout);

    // A session that looks real and renews nothing: a JWT-shaped access
    // token, placeholder refresh token and client ID, an hour to live.
    static StoredTokens placeholderSession(Timestamp now);

private:
    static QImage panel(AppContainer& container);
    // The whole settings form, unscrolled.
    static QImage settings(AppContainer& container);
    static QImage menuBar(AppContainer& container);
    static void write(const QImage& image, const QString& path, std::FILE* out);
};
