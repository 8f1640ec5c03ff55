#include <GL/glew.h>

#include "ScreenQuad.h"

void screenquad::draw()
{
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glBegin(GL_QUADS);
    const float corners[4][2] = {{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}, {0.0f, 1.0f}};
    for (const auto &c : corners) {
        glMultiTexCoord2f(GL_TEXTURE0, c[0], c[1]);
        glVertex2f(2.0f * c[0] - 1.0f, 2.0f * c[1] - 1.0f);
    }
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}
