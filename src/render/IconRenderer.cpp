#include "IconRenderer.h"

#include "VelmoGlyph.h"

#include <QDir>
#include <QImage>
#include <QImageWriter>

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

IconRenderer::Result IconRenderer::render(const QString& directory)
{
    const QDir dir(directory);
    const bool folderMade = dir.mkpath(QStringLiteral("."));

    Result result;
    for (const Entry& entry : table()) {
        const QString path = dir.filePath(entry.fileName());
        const QImage icon = VelmoGlyph::appIcon(entry.pixels());
        if (icon.isNull()) {
            result.failures.append(path + QStringLiteral(": the icon could not be drawn"));
            continue;
        }
        QImageWriter writer(path, "PNG");
        if (writer.write(icon)) {
            result.written.push_back({ path, entry.pixels() });
            continue;
        }
        result.failures.append(path + QStringLiteral(": ")
            + (folderMade ? writer.errorString() : QStringLiteral("cannot create the folder ") + directory));
    }
    return result;
}
