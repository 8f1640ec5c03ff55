#include "AssembleCommand.h"

#include "FrameSequence.h"
#include "RenderCommand.h"
#include "SafeFile.h"
#include "VideoWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>

namespace {
// A frame of the largest side decodes into at most this many megabytes (32 bits a pixel).
constexpr int DecodeLimitMB = (RenderCommand::MaxSide * RenderCommand::MaxSide / (1 << 20)) * 4 + 1;

// One frame, read from a regular file that is no link, of the size expected (or any size
// when `size` is empty, which it is then given).
bool readFrame(const QString &name, QSize &size, QImage &image, QString &error)
{
    QFile file;
    if (!safefile::open(name, AssembleCommand::MaxFrameBytes, file, error))
        return false;
    QImageReader reader(&file, "png");
    reader.setAllocationLimit(DecodeLimitMB);
    const QSize found = reader.size();
    if (!found.isValid() || found.width() > RenderCommand::MaxSide ||
        found.height() > RenderCommand::MaxSide) {
        error = QStringLiteral("%1 is not a PNG picture of at most %2 a side")
                    .arg(name)
                    .arg(RenderCommand::MaxSide);
        return false;
    }
    if (size.isValid() && found != size) {
        error = QStringLiteral("%1 is %2x%3, not %4x%5 as the first frame")
                    .arg(name)
                    .arg(found.width())
                    .arg(found.height())
                    .arg(size.width())
                    .arg(size.height());
        return false;
    }
    image = reader.read();
    if (image.isNull() || image.size() != found) {
        error = QStringLiteral("cannot read %1: %2").arg(name, reader.errorString());
        return false;
    }
    size = found;
    return true;
}
} // namespace

bool AssembleCommand::wanted(const QStringList &arguments)
{
    bool assemble = false;
    for (const QString &a : arguments) {
        if (a == QLatin1String("--help") || a == QLatin1String("-h") ||
            a == QLatin1String("--version"))
            return false;
        assemble = assemble || a.section(QLatin1Char('='), 0, 0) == QLatin1String("--assemble");
    }
    return assemble;
}

bool AssembleCommand::parse(const QStringList &arguments, Options &options, QString &error)
{
    static const QStringList names = {"--assemble", "--output", "--fps", "--frames"};
    QStringList seen;
    for (int i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i], value;
        if (name.startsWith(QLatin1String("--")) && name.contains(QLatin1Char('='))) {
            value = name.section(QLatin1Char('='), 1);
            name = name.section(QLatin1Char('='), 0, 0);
        } else if (i + 1 < arguments.size() && names.contains(name)) {
            value = arguments[++i];
        }
        if (!names.contains(name)) {
            error = QStringLiteral("%1 is not an option of --assemble").arg(name);
            return false;
        }
        if (value.isEmpty() || seen.contains(name)) {
            error = (value.isEmpty() ? QStringLiteral("%1 needs a value")
                                     : QStringLiteral("%1 is given twice"))
                        .arg(name);
            return false;
        }
        seen.append(name);
        if (name == QLatin1String("--assemble")) {
            options.pattern = value;
        } else if (name == QLatin1String("--output")) {
            options.output = value;
        } else if (name == QLatin1String("--fps")) {
            options.fps = value.toInt();
            if (options.fps < 1 || options.fps > 1000 || QString::number(options.fps) != value) {
                error =
                    QStringLiteral("--fps needs a whole number from 1 to 1000, not %1").arg(value);
                return false;
            }
        } else {
            static const QRegularExpression range(QStringLiteral("^(\\d{1,6})-(\\d{1,6})$"));
            const QRegularExpressionMatch m = range.match(value);
            options.first = m.hasMatch() ? m.captured(1).toInt() : 0;
            options.last = m.hasMatch() ? m.captured(2).toInt() : 0;
            if (options.first < 1 || options.last < options.first) {
                error = QStringLiteral("--frames needs A-B with 1 <= A <= B, not %1").arg(value);
                return false;
            }
        }
    }
    if (options.output.isEmpty()) {
        error = QStringLiteral("--output VIDEO.mp4 is missing");
        return false;
    }
    if (!VideoWriter::isVideoName(options.output)) {
        error = QStringLiteral("%1 is not a .mp4 or .webm name").arg(options.output);
        return false;
    }
    return framesequence::validate(options.pattern, error);
}

bool AssembleCommand::framesFound(const Options &options, QList<int> &numbers, QString &error)
{
    // The frame names differ only in their number: what stands around a number that no
    // frame has is the same in all of them.
    constexpr int Probe = 987654321;
    const QString probe = QFileInfo(framesequence::fileName(options.pattern, Probe)).fileName();
    const QString digits = QString::number(Probe);
    const qsizetype at = probe.lastIndexOf(digits);
    if (at < 0) {
        error = QStringLiteral("the frame number of %1 must be in the file name, not the folder")
                    .arg(options.pattern);
        return false;
    }
    const QRegularExpression name(
        QStringLiteral("^%1(\\d{1,9})%2$")
            .arg(QRegularExpression::escape(probe.left(at)),
                 QRegularExpression::escape(probe.mid(at + digits.size()))));
    const QString folder = QFileInfo(framesequence::fileName(options.pattern, 1)).path();
    QSet<int> present;
    int highest = 0;
    for (const QString &entry : QDir(folder).entryList(QDir::AllEntries | QDir::System |
                                                       QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QRegularExpressionMatch m = name.match(entry);
        const int n = m.hasMatch() ? m.captured(1).toInt() : 0;
        // Only the name the pattern gives the number counts: t_12.png is not t_0012.png.
        if (n > 0 && QFileInfo(framesequence::fileName(options.pattern, n)).fileName() == entry) {
            present.insert(n);
            highest = std::max(highest, n);
        }
    }
    const int last = options.last > 0 ? options.last : highest;
    if (last < options.first) {
        error = QStringLiteral("no frames of %1 are there").arg(options.pattern);
        return false;
    }
    for (int n = options.first; n <= last; ++n) {
        if (!present.contains(n)) {
            error = QStringLiteral("frame %1 (%2) is missing")
                        .arg(n)
                        .arg(framesequence::fileName(options.pattern, n));
            return false;
        }
        numbers.append(n);
    }
    return true;
}

bool AssembleCommand::run(const QStringList &arguments, QString &error)
{
    Options options;
    if (!parse(arguments, options, error)) {
        error += QStringLiteral(" (see tuftmill --help)");
        return false;
    }
    QList<int> numbers;
    if (!framesFound(options, numbers, error))
        return false;
    QSize size;
    QImage image;
    if (!readFrame(framesequence::fileName(options.pattern, numbers.first()), size, image, error))
        return false;
    VideoWriter video;
    if (!video.open(options.output, size.width(), size.height(), options.fps, error))
        return false;
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        if (i > 0 &&
            !readFrame(framesequence::fileName(options.pattern, numbers[i]), size, image, error))
            return false;
        if (!video.add(image, error))
            return false;
    }
    return video.finish(error);
}
