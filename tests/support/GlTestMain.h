#pragma once

#include "GLRender.h"

#include <QApplication>
#include <QtTest>

// Like QTEST_MAIN, with the surface format the OpenGL view needs set first.
#define TUFTMILL_GL_TEST_MAIN(TestClass)                                                           \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        GLRender::setDefaultSurfaceFormat();                                                       \
        QApplication app(argc, argv);                                                              \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
