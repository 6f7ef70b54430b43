// A compiled GLSL shader; copies share one GL shader object, deleted with the last copy.
#pragma once

#include <GL/glew.h>

#include <string>

class Shader {
public:
    // Compiles shaderCode; throws std::runtime_error with the driver's log on failure.
    Shader(const std::string& shaderCode, GLenum shaderType);
    static Shader shaderFromFile(const std::string& filePath, GLenum shaderType);

    GLuint object() const { return _object; }

    Shader(const Shader& other);
    Shader& operator=(const Shader& other);
    ~Shader();

private:
    GLuint _object = 0;
    unsigned* _refCount = nullptr;

    void _retain();
    void _release();
};
