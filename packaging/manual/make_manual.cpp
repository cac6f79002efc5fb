// make_manual: the user guide of the README, as the PDF manual that Help > Corvane Manual opens.
//
//   make_manual README.md FIRST-HEADING END-HEADING VERSION OUT.pdf
//
// Takes the README's sections from the "## FIRST-HEADING" line up to (not including) the
// "## END-HEADING" line, lays them out with Qt's Markdown reader and writes them as an A4 PDF.
// Run on the offscreen platform; needs no other tool.

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QUrl>

#include <cstdio>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "make_manual: %s\n", qPrintable(message));
    return 1;
}

// The lines from "## first" up to "## end".
QString guideOf(const QString &readme, const QString &first, const QString &end)
{
    const QStringList lines = readme.split(QLatin1Char('\n'));
    QStringList taken;
    bool inside = false;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("## "))) {
            const QString heading = line.mid(3).trimmed();
            if (heading.startsWith(first))
                inside = true;
            else if (heading.startsWith(end))
                inside = false;
        }
        if (inside)
            taken << line;
    }
    return taken.join(QLatin1Char('\n'));
}

// Pictures no wider than the text: screenshots are wider than an A4 page.
void fitImages(QTextDocument &document, const QString &folder, double widest)
{
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat())
                continue;
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            const QImage image(folder + QLatin1Char('/') + format.name());
            if (image.isNull())
                continue;
            // Given to the document itself: the copy that print() lays out finds no files.
            document.addResource(QTextDocument::ImageResource, QUrl(format.name()), image);
            if (image.width() <= widest)
                continue;
            format.setWidth(widest);
            format.setHeight(image.height() * widest / image.width());
            QTextCursor cursor(&document);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 6)
        return fail(QStringLiteral("usage: make_manual README.md FIRST-HEADING END-HEADING VERSION OUT.pdf"));
    const QString readmePath = arguments.at(1);
    QFile readme(readmePath);
    if (!readme.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(readmePath, readme.errorString()));
    const QString guide = guideOf(QString::fromUtf8(readme.readAll()), arguments.at(2), arguments.at(3));
    if (guide.isEmpty())
        return fail(QStringLiteral("no section \"## %1\" in %2").arg(arguments.at(2), readmePath));

    const QString folder = QFileInfo(readmePath).absolutePath();
    const QString markdown = QStringLiteral("# Corvane Manual\n\nVersion %1\n\n").arg(arguments.at(4)) + guide;
    QTextDocument document;
    document.setBaseUrl(QUrl::fromLocalFile(folder + QLatin1Char('/')));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(10);
    document.setDefaultFont(font);
    document.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);

    const QString output = arguments.at(5);
    QSaveFile file(output);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write %1: %2").arg(output, file.errorString()));
    {
        QPdfWriter writer(&file);
        writer.setTitle(QStringLiteral("Corvane Manual"));
        writer.setCreator(QStringLiteral("Corvane %1").arg(arguments.at(4)));
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(18, 18, 18, 18),
                                         QPageLayout::Millimeter));
        // The text's width in the document's own units (points at 96 per inch, as screenshots).
        const double textWidth = writer.pageLayout().paintRect(QPageLayout::Inch).width() * 96;
        fitImages(document, folder, textWidth);
        document.print(&writer);
    }
    if (!file.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(output, file.errorString()));
    return 0;
}
