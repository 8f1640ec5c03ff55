#include "ModelBuilder.h"

#include <QFile>
#include <cmath>
#include <cstring>
#include <utility>
#include <lib3ds/file.h>
#include <lib3ds/material.h>
#include <lib3ds/mesh.h>

namespace {
void copyName(char *target, size_t size, const QString &name)
{
    const QByteArray bytes = name.toLatin1();
    std::strncpy(target, bytes.constData(), size - 1);
    target[size - 1] = '\0';
}
} // namespace

ModelBuilder::Mesh &ModelBuilder::addMesh(const QString &name)
{
    meshes.append(Mesh{name, {}, {}, {}});
    return meshes.last();
}

void ModelBuilder::Mesh::facet()
{
    const QVector<std::array<float, 3>> shared = std::exchange(points, {});
    texCoords.clear();
    smoothing = 0;
    for (Face &f : faces) {
        for (int *corner : {&f.a, &f.b, &f.c}) {
            points.append(shared[*corner]);
            *corner = int(points.size()) - 1;
        }
    }
}

ModelBuilder ModelBuilder::spheres(int meshes, int rings, int segments)
{
    ModelBuilder b;
    for (int m = 0; m < 10; ++m)
        b.addMaterial(QStringLiteral("m%1").arg(m), 0.1f * m, 0.5f, 1.0f - 0.1f * m);
    for (int i = 0; i < meshes; ++i) {
        // Ten spheres a row.
        const int column = i % 10, row = i / 10;
        b.addSphere(QStringLiteral("s%1").arg(i, 3, 10, QLatin1Char('0')),
                    {float(column) * 30.0f, float(row) * 30.0f, 0.0f}, 12.0f, rings, segments,
                    QStringLiteral("m%1").arg(column));
    }
    return b;
}

ModelBuilder::Mesh &ModelBuilder::addSphere(const QString &name, const std::array<float, 3> &c,
                                            float radius, int rings, int segments,
                                            const QString &material)
{
    Mesh &m = addMesh(name);
    const int top = m.addPoint(c[0], c[1], c[2] + radius);
    for (int r = 1; r < rings; ++r) {
        const double theta = M_PI * r / rings;
        for (int s = 0; s < segments; ++s) {
            const double phi = 2 * M_PI * s / segments;
            m.addPoint(float(c[0] + radius * std::sin(theta) * std::cos(phi)),
                       float(c[1] + radius * std::sin(theta) * std::sin(phi)),
                       float(c[2] + radius * std::cos(theta)));
        }
    }
    const int bottom = m.addPoint(c[0], c[1], c[2] - radius);
    auto at = [&](int ring, int s) { return 1 + (ring - 1) * segments + (s % segments); };
    for (int s = 0; s < segments; ++s)
        m.addFace(top, at(1, s), at(1, s + 1), material);
    for (int r = 1; r < rings - 1; ++r)
        for (int s = 0; s < segments; ++s) {
            m.addFace(at(r, s), at(r + 1, s), at(r + 1, s + 1), material);
            m.addFace(at(r, s), at(r + 1, s + 1), at(r, s + 1), material);
        }
    for (int s = 0; s < segments; ++s)
        m.addFace(bottom, at(rings - 1, s + 1), at(rings - 1, s), material);
    return m;
}

ModelBuilder::Mesh &ModelBuilder::addTorus(const QString &name, const std::array<float, 3> &c,
                                           float major, float minor, int rings, int segments,
                                           const QString &material)
{
    Mesh &m = addMesh(name);
    for (int r = 0; r < rings; ++r) {
        const double u = 2 * M_PI * r / rings;
        for (int s = 0; s < segments; ++s) {
            const double v = 2 * M_PI * s / segments;
            const double w = major + minor * std::cos(v);
            m.addPoint(float(c[0] + w * std::cos(u)), float(c[1] + w * std::sin(u)),
                       float(c[2] + minor * std::sin(v)));
        }
    }
    auto at = [&](int r, int s) { return (r % rings) * segments + (s % segments); };
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            m.addFace(at(r, s), at(r + 1, s), at(r + 1, s + 1), material);
            m.addFace(at(r, s), at(r + 1, s + 1), at(r, s + 1), material);
        }
    return m;
}

ModelBuilder::Mesh &ModelBuilder::addBox(const QString &name, const std::array<float, 3> &lo,
                                         const std::array<float, 3> &hi, const QString &material)
{
    Mesh &m = addMesh(name);
    for (int i = 0; i < 8; ++i)
        m.addPoint(i & 1 ? hi[0] : lo[0], i & 2 ? hi[1] : lo[1], i & 4 ? hi[2] : lo[2]);
    // Outward-facing, counter-clockwise seen from outside.
    const int quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                             {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto &q : quads) {
        m.addFace(q[0], q[1], q[2], material);
        m.addFace(q[0], q[2], q[3], material);
    }
    return m;
}

ModelBuilder::Mesh &ModelBuilder::addTerrain(const QString &name, float size, int cells,
                                             float height, const QString &material)
{
    Mesh &m = addMesh(name);
    for (int y = 0; y <= cells; ++y)
        for (int x = 0; x <= cells; ++x) {
            const double fx = double(x) / cells, fy = double(y) / cells;
            const double z = height * (0.5 * std::sin(fx * 6.0) * std::cos(fy * 4.0) +
                                       0.3 * std::sin(fx * 13.0 + fy * 7.0));
            m.addPoint(float((fx - 0.5) * size), float((fy - 0.5) * size), float(z));
        }
    auto at = [&](int x, int y) { return y * (cells + 1) + x; };
    for (int y = 0; y < cells; ++y)
        for (int x = 0; x < cells; ++x) {
            m.addFace(at(x, y), at(x + 1, y), at(x + 1, y + 1), material);
            m.addFace(at(x, y), at(x + 1, y + 1), at(x, y + 1), material);
        }
    return m;
}

bool ModelBuilder::save(const QString &path) const
{
    Lib3dsFile *file = lib3ds_file_new();
    if (!file)
        return false;
    for (const Material &m : materials) {
        Lib3dsMaterial *material = lib3ds_material_new();
        copyName(material->name, sizeof(material->name), m.name);
        material->diffuse[0] = m.r;
        material->diffuse[1] = m.g;
        material->diffuse[2] = m.b;
        material->diffuse[3] = 1.0f;
        material->ambient[0] = m.r * 0.3f;
        material->ambient[1] = m.g * 0.3f;
        material->ambient[2] = m.b * 0.3f;
        copyName(material->texture1_map.name, sizeof(material->texture1_map.name), m.texture);
        lib3ds_file_insert_material(file, material);
    }
    for (const Mesh &source : meshes) {
        Lib3dsMesh *mesh = lib3ds_mesh_new(source.name.toLatin1().constData());
        lib3ds_mesh_new_point_list(mesh, Lib3dsDword(source.points.size()));
        for (int i = 0; i < source.points.size(); ++i)
            for (int k = 0; k < 3; ++k)
                mesh->pointL[i].pos[k] = source.points[i][k];
        if (!source.texCoords.isEmpty()) {
            lib3ds_mesh_new_texel_list(mesh, Lib3dsDword(source.texCoords.size()));
            for (int i = 0; i < source.texCoords.size(); ++i)
                for (int k = 0; k < 2; ++k)
                    mesh->texelL[i][k] = source.texCoords[i][k];
        }
        lib3ds_mesh_new_face_list(mesh, Lib3dsDword(source.faces.size()));
        for (int i = 0; i < source.faces.size(); ++i) {
            Lib3dsFace &f = mesh->faceL[i];
            f.points[0] = Lib3dsWord(source.faces[i].a);
            f.points[1] = Lib3dsWord(source.faces[i].b);
            f.points[2] = Lib3dsWord(source.faces[i].c);
            f.flags = LIB3DS_FACE_FLAG_VIS_AB | LIB3DS_FACE_FLAG_VIS_BC | LIB3DS_FACE_FLAG_VIS_AC;
            f.smoothing = source.smoothing;
            copyName(f.material, sizeof(f.material), source.faces[i].material);
        }
        lib3ds_file_insert_mesh(file, mesh);
    }
    const bool ok = lib3ds_file_save(file, QFile::encodeName(path).constData());
    lib3ds_file_free(file);
    return ok;
}
