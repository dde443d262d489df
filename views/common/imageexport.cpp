// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/common/imageexport.h"

#include "views/common/savefile.h"
#include "views/common/viewprompts.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

namespace {
const QString kPngFilter = QStringLiteral("PNG image (*.png)");
const QString kSvgFilter = QStringLiteral("SVG drawing (*.svg)");

bool isSvg(const QString& fileName) { return fileName.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive); }
}  // namespace

bool writeImage(const QString& fileName, QSize size, const DrawFunction& draw, QString* error)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (isSvg(fileName)) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        QPainter painter(&svg);
        draw(painter);
    } else {
        // A raster of this size would not fit in memory (QImage stops at 2^31 bytes).
        if (size.isEmpty() || qint64(size.width()) * size.height() * 4 >= (qint64(1) << 31)) {
            if (error)
                *error = fileName + QStringLiteral(": the picture is too large for PNG; export it as SVG");
            return false;
        }
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            draw(painter);
        }
        if (!image.save(&buffer, "PNG")) {
            if (error)
                *error = fileName + QStringLiteral(": the PNG image could not be encoded");
            return false;
        }
    }
    return saveUserFile(fileName, bytes, error);
}

bool exportImage(QWidget* parent, QSize size, const DrawFunction& draw)
{
    QString filter;
    QString fileName = viewui::getSaveFileName(parent, QStringLiteral("Export as Image"), QString(),
                                               kPngFilter + QStringLiteral(";;") + kSvgFilter, &filter);
    if (fileName.isEmpty())
        return false;
    if (!isSvg(fileName) && !fileName.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        fileName += filter == kSvgFilter ? QStringLiteral(".svg") : QStringLiteral(".png");
    QString error;
    if (writeImage(fileName, size, draw, &error))
        return true;
    viewui::warning(parent, QStringLiteral("Warning"), error);
    return false;
}
