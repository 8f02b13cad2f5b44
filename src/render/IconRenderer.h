#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <vector>

// Writes the application icon set (the hicolor PNGs of the desktop entry and
// the packaging) into a folder, drawn with the same code as the running
// application. Never touches the network.
class IconRenderer {
public:
    // One icon of the set: a point size at a scale; the pixel size is their
    // product.
    struct Entry {
        int pointSize = 0;
        int scale = 1;

        int pixels() const { return pointSize * scale; }
        // "icon_16x16.png", "icon_16x16@2x.png".
        QString fileName() const;

        friend bool operator==(const Entry&, const Entry&) = default;
    };

    // The ten icons, smallest first.
    static const std::array<Entry, 10>& table();

    struct Written {
        QString path;
        int pixels = 0;
    };
    struct Result {
        std::vector<Written> written; // in table order
        QStringList failures; // "PATH: reason", one per icon not written
    };

    // Creates `directory` (with missing parents) and writes every icon of the
    // table into it. An icon that cannot be drawn or written is skipped and
    // the others are still tried; the caller says what went wrong.
    static Result render(const QString& directory);
};
