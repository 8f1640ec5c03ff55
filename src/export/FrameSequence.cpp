#include "FrameSequence.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace framesequence {
namespace {
// A number field, or a doubled percent sign.
const QRegularExpression &fields()
{
    static const QRegularExpression re(QStringLiteral("%(%|(?:0[1-9])?d|.?)"));
    return re;
}
} // namespace

bool validate(const QString &pattern, QString &error)
{
    int numbers = 0;
    for (auto it = fields().globalMatch(pattern); it.hasNext();) {
        const QString field = it.next().captured(1);
        if (field == QLatin1String("%"))
            continue;
        if (!field.endsWith(QLatin1Char('d'))) {
            error = QStringLiteral("the pattern ") + pattern +
                    QStringLiteral(" may hold only %d or %0Nd and %%");
            return false;
        }
        ++numbers;
    }
    if (numbers != 1) {
        error = QStringLiteral("the pattern %1 needs exactly one frame number such as %04d")
                    .arg(pattern);
        return false;
    }
    if (QFileInfo(pattern).suffix().toLower() != QLatin1String("png")) {
        error = QStringLiteral("the pattern %1 is not a .png name: frames are PNG pictures")
                    .arg(pattern);
        return false;
    }
    return true;
}

QString fileName(const QString &pattern, int number)
{
    QString name;
    qsizetype at = 0;
    for (auto it = fields().globalMatch(pattern); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        name += pattern.mid(at, m.capturedStart() - at);
        const QString field = m.captured(1);
        if (field == QLatin1String("%"))
            name += QLatin1Char('%');
        else
            name += QStringLiteral("%1").arg(number, field.size() > 1 ? field.mid(1, 1).toInt() : 1,
                                             10, QLatin1Char('0'));
        at = m.capturedEnd();
    }
    return name + pattern.mid(at);
}
} // namespace framesequence
