#include "overlay/GLPolygon.h"

#include <GL/glu.h>

Vectors vectors;
size_t lastFillRecordCount = 0;

GLdouble* NewVector(GLdouble x, GLdouble y)
{
    GLdouble* v = new GLdouble[3]{x, y, 0.0};
    vectors.push_back(v);
    return v;
}

void ClearVectors()
{
    for (GLdouble* v : vectors)
        delete[] v;
    vectors.clear();
}

namespace {

template <class T>
void outline(const T* xs, const T* ys, int n)
{
    if (n < 1)
        return;
    for (int k = 0; k + 1 < n; ++k) {
        glVertex2f(static_cast<GLfloat>(xs[k]), static_cast<GLfloat>(ys[k]));
        glVertex2f(static_cast<GLfloat>(xs[k + 1]), static_cast<GLfloat>(ys[k + 1]));
    }
    glVertex2f(static_cast<GLfloat>(xs[n - 1]), static_cast<GLfloat>(ys[n - 1]));
    glVertex2f(static_cast<GLfloat>(xs[0]), static_cast<GLfloat>(ys[0]));
}

void GLAPIENTRY BeginCallback(GLenum type) { glBegin(type); }
void GLAPIENTRY VertexCallback(GLvoid* vertex) { glVertex3dv(static_cast<const GLdouble*>(vertex)); }
void GLAPIENTRY EndCallback() { glEnd(); }

// New vertices where edges cross carry position only.
void GLAPIENTRY CombineCallback(GLdouble* coords, GLdouble**, GLfloat*, GLdouble** dataOut)
{
    *dataOut = NewVector(coords[0], coords[1]);
}

// Tessellation errors are silent: what was issued before stays drawn.
void GLAPIENTRY ErrorCallback(GLenum errorCode) { (void)gluErrorString(errorCode); }

template <class T>
bool fill(const T* xs, const T* ys, int n)
{
    GLUtesselator* tess = gluNewTess();
    if (tess == nullptr)
        return false;
    gluTessCallback(tess, GLU_TESS_BEGIN, reinterpret_cast<_GLUfuncptr>(BeginCallback));
    gluTessCallback(tess, GLU_TESS_VERTEX, reinterpret_cast<_GLUfuncptr>(VertexCallback));
    gluTessCallback(tess, GLU_TESS_END, reinterpret_cast<_GLUfuncptr>(EndCallback));
    gluTessCallback(tess, GLU_TESS_COMBINE, reinterpret_cast<_GLUfuncptr>(CombineCallback));
    gluTessCallback(tess, GLU_TESS_ERROR, reinterpret_cast<_GLUfuncptr>(ErrorCallback));
    gluTessProperty(tess, GLU_TESS_WINDING_RULE, GLU_TESS_WINDING_POSITIVE);

    gluTessBeginPolygon(tess, nullptr);
    gluTessBeginContour(tess);
    for (int k = 0; k < n; ++k) {
        GLdouble* v = NewVector(static_cast<GLdouble>(xs[k]), static_cast<GLdouble>(ys[k]));
        gluTessVertex(tess, v, v);
    }
    gluTessEndContour(tess);
    gluTessEndPolygon(tess);

    lastFillRecordCount = vectors.size();
    ClearVectors();
    gluDeleteTess(tess);
    return true;
}

} // namespace

void drawPolygonOutline(const float* xs, const float* ys, int n) { outline(xs, ys, n); }
void drawPolygonOutline(const int* xs, const int* ys, int n) { outline(xs, ys, n); }
bool fillPolygon(const float* xs, const float* ys, int n) { return fill(xs, ys, n); }
bool fillPolygon(const int* xs, const int* ys, int n) { return fill(xs, ys, n); }
