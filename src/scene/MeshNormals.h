#pragma once

struct Lib3dsMesh;

// Vertex normals of a mesh, three per face, smoothed across faces that share a point
// and a smoothing group: the same arithmetic as lib3ds_mesh_calculate_normals. That
// function keeps the distinct normals around a point in a fixed array of 128 and writes
// past it when more faces meet at one point (a cone or fan of many segments), so the
// model loader uses this one, which has no such limit. `normals` receives 9 floats per
// face.
void calculateVertexNormals(const Lib3dsMesh *mesh, float *normals);
