// Build tool: draws an SVG picture at a fixed size, as the program would draw it at run time, and
// writes it as PNG bytes into a C++ source file. The program then shows the picture without parsing
// the SVG and rasterising its text as it starts.
// Usage: RenderPicture <picture.svg> <width> <height> <output.cpp> <variable name>
#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: RenderPicture picture.svg width height output.cpp name\n");
        return 2;
    }
    // No display is needed to draw.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QString svg = QString::fromLocal8Bit(argv[1]);
    const QSize size(QByteArray(argv[2]).toInt(), QByteArray(argv[3]).toInt());
    const QPixmap picture = QIcon(svg).pixmap(size);
    QByteArray png;
    QBuffer buffer(&png);
    if (picture.isNull() || picture.size() != size || !buffer.open(QIODevice::WriteOnly)
        || !picture.toImage().save(&buffer, "PNG")) {
        std::fprintf(stderr, "RenderPicture: cannot draw %s at %dx%d\n", argv[1], size.width(), size.height());
        return 1;
    }
    QByteArray source = "// Drawn from " + QFile::encodeName(svg).split('/').last()
        + " by RenderPicture at build time.\n#include <cstddef>\n\nextern const unsigned char " + argv[5] + "[] = {";
    for (qsizetype i = 0; i < png.size(); ++i)
        source += (i % 16 == 0 ? "\n    " : " ") + QByteArray::number(static_cast<unsigned char>(png[i])) + ',';
    source += "\n};\nextern const std::size_t " + QByteArray(argv[5]) + "Size = sizeof " + argv[5] + ";\n";
    QFile output(QString::fromLocal8Bit(argv[4]));
    if (!output.open(QIODevice::WriteOnly) || output.write(source) != source.size()) {
        std::fprintf(stderr, "RenderPicture: cannot write %s\n", argv[4]);
        return 1;
    }
    return 0;
}
