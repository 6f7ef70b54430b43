// Interest-area polygons: outlines as vertex pairs inside the caller's
// primitive, fills through the GLU tessellator.
#pragma once

#include <GL/glew.h>

#include <cstddef>
#include <vector>

// Every vertex record (x, y, 0) made for the tessellator during one fill,
// combine vertices included; empty between fills.
using Vectors = std::vector<GLdouble*>;
extern Vectors vectors;

GLdouble* NewVector(GLdouble x, GLdouble y);
void ClearVectors();

// Records made by the most recent fill (input and combine vertices).
extern size_t lastFillRecordCount;

// Issues 2*n glVertex2f calls: the closed outline as separate edges.
void drawPolygonOutline(const float* xs, const float* ys, int n);
void drawPolygonOutline(const int* xs, const int* ys, int n);

// Fills the polygon of n vertices (positive winding); false when GLU has no tessellator.
bool fillPolygon(const float* xs, const float* ys, int n);
bool fillPolygon(const int* xs, const int* ys, int n);
