// The info log of a shader or program object, read through its pair of GL
// entry points (glGetShaderiv/glGetShaderInfoLog or the program ones).
#pragma once

#include <GL/glew.h>

#include <string>
#include <vector>

template <class GetIv, class GetLog>
std::string infoLog(GLuint object, GetIv getiv, GetLog getlog)
{
    GLint length = 0;
    getiv(object, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    getlog(object, length, nullptr, log.data());
    return log.data();
}
