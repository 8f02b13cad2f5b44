#include "IconRenderer.h"

#include "VelmoGlyph.h"

#include <QDir>
#include <QImage>

QString IconRenderer::Entry::fileName() const
{
    const QString size = QString::number(pointSize);
    return QStringLiteral("icon_%1x%1%2")
        .arg(size, scale == 1 ? QStringLiteral(".png") : QStringLiteral("@2x.png"));
}

const std::array<IconRenderer::Entry, 10>& IconRenderer::table()
{
    static constexpr std::array<Entry, 10> entries { {
        { 16, 1 },
        { 16, 2 },
        { 32, 1 },
        { 32, 2 },
        { 128, 1 },
        { 128, 2 },
        { 256, 1 },
        { 256, 2 },
        { 512, 1 },
        { 512, 2 },
    } };
    return entries;
}

QStringList IconRenderer::render(const QString& directory)
{
    const QDir dir(directory);
    dir.mkpath(QStringLiteral(".")); // a failure shows as failed writes below

    QStringList written;
    for (const Entry& entry : table()) {
        const QImage icon = VelmoGlyph::appIcon(entry.pixels());
        if (icon.isNull())
            continue;
        const QString path = dir.filePath(entry.fileName());
        if (icon.save(path, "PNG"))
            written.append(path);
    }
    return written;
}
