#pragma once
// Builds the viewer's GL programs from the embedded GLSL sources.
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>

// Reads both sources from the embedded file table ("shaders/...glsl"), compiles and links them. On any
// failure writes the program's log to the debug output and throws std::runtime_error("makeShaderProgram()
// failure").
void makeShaderProgram(QOpenGLShaderProgram& program, const char* vertexPath, const char* fragmentPath,
                       QOpenGLFunctions& gl);
