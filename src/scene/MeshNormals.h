#pragma once

#include "ModelTransfer.h"

#include <cstddef>

// Normals of one mesh, with the arithmetic of lib3ds (so a model looks as lib3ds-based
// tools show it) but in time linear in the number of faces.

// The unit normal of every face, three floats per face: (c - b) x (a - b) normalised; a
// degenerate face gets the axis of its largest component.
void calculateFaceNormals(const float *points, const ModelTransfer::FaceRecord *faces,
                          size_t faceCount, float *faceNormals);

// Vertex normals, nine floats per face (corners 0, 1, 2). A corner of a face in smoothing
// groups sums the normals of the faces around its point that share a group with it,
// taking each direction once (faces around the point in the order lib3ds visits them: the
// latest first); a face in no smoothing group keeps its own normal. Corners at a point
// where more than 32 different sets of smoothing groups meet are smoothed by their lowest
// group alone, which keeps the work linear on any input.
void calculateVertexNormals(const ModelTransfer::FaceRecord *faces, size_t faceCount,
                            size_t pointCount, const float *faceNormals, float *normals);
