#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

struct Lib3dsFile;

// Owns a lib3ds file object and frees it with lib3ds_file_free.
struct Lib3dsFileDeleter
{
    void operator()(Lib3dsFile *file) const;
};
using Lib3dsFilePtr = std::unique_ptr<Lib3dsFile, Lib3dsFileDeleter>;

// Reads 3DS files as untrusted input. lib3ds trusts every count, index and chunk length
// it finds, so the chunk structure is checked before lib3ds sees the bytes, lib3ds reads
// only from the checked bytes in memory, and what it built is checked again before
// anybody walks it.
class Model3dsReader
{
public:
    // Largest number of faces the face-id picture can tell apart (24-bit ids, 0 = none).
    static constexpr qint64 MaxFaces = 0xFFFFFF;

    // Reads and checks the file; on failure returns none and says why in `problem`.
    static Lib3dsFilePtr read(const QString &path, QString &problem);
    // The same for bytes already in memory.
    static Lib3dsFilePtr parse(const QByteArray &bytes, QString &problem);

    // The chunk structure check alone: lengths, nesting, counts and indices.
    static bool checkStructure(const QByteArray &bytes, QString &problem);
    // Checks what lib3ds built: every face index inside its mesh's point list, finite
    // coordinates, and a face count the face-id picture can hold.
    static bool checkModel(Lib3dsFile *file, QString &problem);
};
