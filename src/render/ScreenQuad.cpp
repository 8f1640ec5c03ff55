#include <GL/glew.h>

#include "ScreenQuad.h"

void screenquad::draw(float x0, float y0, float x1, float y1)
{
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glBegin(GL_QUADS);
    const float corners[4][2] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    for (const auto &c : corners) {
        glMultiTexCoord2f(GL_TEXTURE0, (c[0] + 1.0f) * 0.5f, (c[1] + 1.0f) * 0.5f);
        glVertex2f(c[0], c[1]);
    }
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}
