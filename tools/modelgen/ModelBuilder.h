#pragma once

#include <QString>
#include <QVector>
#include <array>

// Builds 3DS models in memory and writes them with lib3ds's own writer: the sample
// models of the workspace, the models of the tests and the benchmarks.
class ModelBuilder
{
public:
    struct Face
    {
        int a, b, c;
        QString material; // empty: no material
    };
    struct Mesh
    {
        QString name;
        QVector<std::array<float, 3>> points;
        QVector<Face> faces;
        QVector<std::array<float, 2>> texCoords; // none, or one per point
        // The smoothing group of every face; 0: none, every face shaded flat.
        unsigned int smoothing = 1;

        int addPoint(float x, float y, float z)
        {
            points.append({x, y, z});
            return int(points.size()) - 1;
        }
        void addFace(int a, int b, int c, const QString &material = QString())
        {
            faces.append({a, b, c, material});
        }
        // Faceted as STL files are: no smoothing groups, and every face with points of its
        // own (texture coordinates are dropped).
        void facet();
    };
    struct Material
    {
        QString name;
        float r, g, b;
        QString texture; // the file name of its texture map, none when empty
    };

    void addMaterial(const QString &name, float r, float g, float b,
                     const QString &texture = QString())
    {
        materials.append({name, r, g, b, texture});
    }
    Mesh &addMesh(const QString &name);

    // Shapes, each one new mesh; `material` colours all its faces.
    Mesh &addSphere(const QString &name, const std::array<float, 3> &center, float radius,
                    int rings, int segments, const QString &material);
    Mesh &addTorus(const QString &name, const std::array<float, 3> &center, float major,
                   float minor, int rings, int segments, const QString &material);
    Mesh &addBox(const QString &name, const std::array<float, 3> &min,
                 const std::array<float, 3> &max, const QString &material);
    // A rolling height field of (cells x cells) squares, z up.
    Mesh &addTerrain(const QString &name, float size, int cells, float height,
                     const QString &material);

    bool save(const QString &path) const;

    // A big model for benchmarks and load tests: `meshes` spheres of 2 x segments x
    // (rings - 1) triangles each on a grid, coloured by ten materials.
    static ModelBuilder spheres(int meshes, int rings, int segments);

    QVector<Material> materials;
    QVector<Mesh> meshes;
};
