#include "gl/Program.h"

#include "gl/InfoLog.h"

#include <cassert>
#include <stdexcept>

Program::Program(const std::vector<Shader>& shaders)
{
    if (shaders.empty())
        throw std::runtime_error("No shaders were provided to create the program");
    _object = glCreateProgram();
    if (_object == 0)
        throw std::runtime_error("glCreateProgram failed");

    for (const Shader& s : shaders)
        glAttachShader(_object, s.object());
    glLinkProgram(_object);

    GLint status = GL_FALSE;
    glGetProgramiv(_object, GL_LINK_STATUS, &status);
    if (status != GL_FALSE) {
        // Detached shaders are deleted as soon as their last owner lets go.
        for (const Shader& s : shaders)
            glDetachShader(_object, s.object());
        return;
    }

    std::string msg("Program linking failure: ");
    msg += infoLog(_object, glGetProgramiv, glGetProgramInfoLog);
    glDeleteProgram(_object);
    _object = 0;
    throw std::runtime_error(msg);
}

Program::~Program()
{
    if (_object != 0)
        glDeleteProgram(_object);
}

void Program::use() const { glUseProgram(_object); }

bool Program::isInUse() const
{
    GLint current = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    return current == static_cast<GLint>(_object);
}

void Program::stopUsing() const
{
    assert(isInUse());
    glUseProgram(0);
}

GLint Program::attrib(const GLchar* attribName) const
{
    if (attribName == nullptr)
        throw std::runtime_error("attribName was NULL");
    const GLint location = glGetAttribLocation(_object, attribName);
    if (location == -1)
        throw std::runtime_error(std::string("Program attribute not found: ") + attribName);
    return location;
}

GLint Program::uniform(const GLchar* uniformName) const
{
    if (uniformName == nullptr)
        throw std::runtime_error("uniformName was NULL");
    const GLint location = glGetUniformLocation(_object, uniformName);
    if (location == -1)
        throw std::runtime_error(std::string("Program uniform not found: ") + uniformName);
    return location;
}

void Program::setUniform(const GLchar* uniformName, int v)
{
    assert(isInUse());
    glUniform1i(uniform(uniformName), v);
}

void Program::setUniform(const GLchar* uniformName, float v)
{
    assert(isInUse());
    glUniform1f(uniform(uniformName), v);
}

Program* Program::LoadShaderFromFile(const char* vertexFile, const char* fragmentFile)
{
    if (vertexFile == nullptr || fragmentFile == nullptr)
        throw std::runtime_error("Failed to open file: ");
    std::vector<Shader> shaders;
    shaders.push_back(Shader::shaderFromFile(vertexFile, GL_VERTEX_SHADER));
    shaders.push_back(Shader::shaderFromFile(fragmentFile, GL_FRAGMENT_SHADER));
    return new Program(shaders);
}

Program* Program::LoadShaderFromString(const std::string& vertexSource, const std::string& fragmentSource)
{
    // Both compile before either joins the list, vertex first.
    Shader vertex(vertexSource, GL_VERTEX_SHADER);
    Shader fragment(fragmentSource, GL_FRAGMENT_SHADER);
    std::vector<Shader> shaders{vertex, fragment};
    return new Program(shaders);
}
