#include "gl/Shader.h"

#include "gl/InfoLog.h"

#include <cassert>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

Shader::Shader(const std::string& shaderCode, GLenum shaderType)
{
    puts(" build shader ");
    fflush(nullptr);
    _object = glCreateShader(shaderType);
    if (_object == 0)
        throw std::runtime_error("glCreateShader failed");

    puts(" build shader 2 ");
    const char* code = shaderCode.c_str();
    glShaderSource(_object, 1, &code, nullptr);

    puts(" build shader 3 ");
    glCompileShader(_object);
    GLint status = GL_FALSE;
    glGetShaderiv(_object, GL_COMPILE_STATUS, &status);
    if (status != GL_FALSE) {
        _refCount = new unsigned(1);
        return;
    }

    std::string msg("Compile failure in shader:\n");
    msg += infoLog(_object, glGetShaderiv, glGetShaderInfoLog);
    glDeleteShader(_object);
    _object = 0;
    throw std::runtime_error(msg);
}

Shader Shader::shaderFromFile(const std::string& filePath, GLenum shaderType)
{
    std::ifstream f(filePath, std::ios::in | std::ios::binary);
    if (!f.is_open())
        throw std::runtime_error(std::string("Failed to open file: ") + filePath);
    std::stringstream buffer;
    buffer << f.rdbuf();
    return Shader(buffer.str(), shaderType);
}

Shader::Shader(const Shader& other) : _object(other._object), _refCount(other._refCount) { _retain(); }

Shader& Shader::operator=(const Shader& other)
{
    if (this == &other)
        return *this;
    _release();
    _object = other._object;
    _refCount = other._refCount;
    _retain();
    return *this;
}

Shader::~Shader()
{
    if (_refCount != nullptr)
        _release();
}

void Shader::_retain()
{
    assert(_refCount);
    *_refCount += 1;
}

void Shader::_release()
{
    assert(_refCount && *_refCount > 0);
    *_refCount -= 1;
    if (*_refCount == 0) {
        glDeleteShader(_object);
        _object = 0;
        delete _refCount;
        _refCount = nullptr;
    }
}
