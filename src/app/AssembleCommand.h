#pragma once

#include <QString>
#include <QStringList>

// `tuftmill --assemble 'frames/t_%04d.png' --output t.mp4 [--fps N] [--frames A-B]`: joins
// the PNG frames of a turntable rendered in parts (on a farm, say) into one video, through
// the same video writer as a turntable. Frames A to B (default: 1 to the highest there)
// must all be there, regular files of one size; otherwise nothing is written.
class AssembleCommand
{
public:
    static constexpr qint64 MaxFrameBytes = 512ll << 20;

    // Whether the command line asks for an assembly (and not for the help or version).
    static bool wanted(const QStringList &arguments);
    // Reads the options and writes the video; false with the one-line reason.
    static bool run(const QStringList &arguments, QString &error);

private:
    struct Options
    {
        QString pattern, output;
        int fps = 24;
        int first = 1, last = 0; // last 0: the highest frame in the folder
    };
    static bool parse(const QStringList &arguments, Options &options, QString &error);
    // The numbers of the frames the pattern's folder holds, in order; false with the
    // reason when there is a gap or none.
    static bool framesFound(const Options &options, QList<int> &numbers, QString &error);
};
