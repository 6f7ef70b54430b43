// A linked GLSL program, and the one routine every renderer builds its programs with.
#pragma once

#include "gl/Shader.h"

#include <GL/glew.h>

#include <string>
#include <vector>

class Program {
public:
    // Links the shaders; throws std::runtime_error with the driver's log on failure.
    explicit Program(const std::vector<Shader>& shaders);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    GLuint object() const { return _object; }
    void use() const;
    bool isInUse() const;
    void stopUsing() const;

    // Locations; throw when the name is null or unknown to the linked program.
    GLint attrib(const GLchar* attribName) const;
    GLint uniform(const GLchar* uniformName) const;

    void setUniform(const GLchar* uniformName, int v);
    void setUniform(const GLchar* uniformName, float v);

    // The loading routine: a vertex and a fragment shader, from two files or
    // two source strings, linked into a new Program owned by the caller.
    // Throws on any failure; no GL object is left behind then.
    static Program* LoadShaderFromFile(const char* vertexFile, const char* fragmentFile);
    static Program* LoadShaderFromString(const std::string& vertexSource, const std::string& fragmentSource);

private:
    GLuint _object = 0;
};
