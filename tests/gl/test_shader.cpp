// Shader and program objects and the shared loading routine, on a real context.
#include "gl/Program.h"
#include "support/GlContext.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

const char* kVertex = "#version 120\n"
                      "uniform float scale;\n"
                      "attribute vec2 position;\n"
                      "void main() { gl_Position = vec4(position * scale, 0.0, 1.0); }\n";
const char* kFragment = "#version 120\n"
                        "uniform vec4 tint;\n"
                        "uniform float unused;\n"
                        "void main() { gl_FragColor = tint; }\n";

// Counts the live shader and program names, so failures can be shown to leave nothing behind.
int liveGlObjects()
{
    int n = 0;
    for (GLuint name = 1; name < 512; ++name)
        n += (glIsShader(name) ? 1 : 0) + (glIsProgram(name) ? 1 : 0);
    return n;
}

std::string failureText(const std::function<void()>& f)
{
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "<no failure>";
}

std::string writeTemp(const std::string& name, const std::string& text)
{
    const std::string path = testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

} // namespace

class ShaderTest : public qvtest::GlTest {};

TEST_F(ShaderTest, CopiesShareOneObjectDeletedWithTheLast)
{
    auto* original = new Shader(kFragment, GL_FRAGMENT_SHADER);
    const GLuint name = original->object();
    ASSERT_NE(name, 0u);
    auto* a = new Shader(*original);
    auto* b = new Shader(*a);
    Shader c = *b;
    c = c; // self-assignment keeps it valid
    EXPECT_EQ(a->object(), name);
    EXPECT_EQ(c.object(), name);
    delete original;
    delete a;
    delete b;
    EXPECT_TRUE(glIsShader(name));
    Shader other(kVertex, GL_VERTEX_SHADER);
    c = other; // releases the last hold on the fragment shader
    EXPECT_FALSE(glIsShader(name));
    EXPECT_EQ(c.object(), other.object());
}

TEST_F(ShaderTest, CompileFailureCarriesTheDriverLogAndLeavesNothing)
{
    const int before = liveGlObjects();
    const std::string text = failureText([] { Shader("void main() { this is not glsl }", GL_FRAGMENT_SHADER); });
    EXPECT_EQ(text.rfind("Compile failure in shader:\n", 0), 0u) << text;
    EXPECT_GT(text.size(), std::string("Compile failure in shader:\n").size()) << "no driver log";
    EXPECT_EQ(liveGlObjects(), before);
}

TEST_F(ShaderTest, MissingFileNamesThePath)
{
    EXPECT_EQ(failureText([] { Shader::shaderFromFile("/nonexistent/a.vert", GL_VERTEX_SHADER); }),
              "Failed to open file: /nonexistent/a.vert");
}

class ProgramTest : public qvtest::GlTest {};

TEST_F(ProgramTest, StringFormLinksAndDetachesItsShaders)
{
    const int before = liveGlObjects();
    std::unique_ptr<Program> p(Program::LoadShaderFromString(kVertex, kFragment));
    ASSERT_NE(p->object(), 0u);
    GLint attached = -1;
    glGetProgramiv(p->object(), GL_ATTACHED_SHADERS, &attached);
    EXPECT_EQ(attached, 0);
    EXPECT_EQ(liveGlObjects(), before + 1) << "only the program itself may remain";
    p.reset();
    EXPECT_EQ(liveGlObjects(), before);
}

TEST_F(ProgramTest, FileFormDrawsWithItsUniforms)
{
    const std::string vs = writeTemp("qv_test.vert", kVertex);
    const std::string fs = writeTemp("qv_test.frag", kFragment);
    std::unique_ptr<Program> p(Program::LoadShaderFromFile(vs.c_str(), fs.c_str()));
    p->use();
    EXPECT_TRUE(p->isInUse());
    p->setUniform("scale", 1.0f);
    glUniform4f(p->uniform("tint"), 0.0f, 1.0f, 0.0f, 1.0f);
    const GLint position = p->attrib("position");
    const float quad[] = {-1, -1, 1, -1, 1, 1, -1, 1};
    glEnableVertexAttribArray(position);
    glVertexAttribPointer(position, 2, GL_FLOAT, GL_FALSE, 0, quad);
    glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
    glDisableVertexAttribArray(position);
    p->stopUsing();
    EXPECT_FALSE(p->isInUse());
    EXPECT_PIXEL(gl(), 128, 128, (qvtest::Rgba{0, 255, 0, 255}), 0);
    std::remove(vs.c_str());
    std::remove(fs.c_str());
}

TEST_F(ProgramTest, LookupFailuresNameWhatWasAsked)
{
    std::unique_ptr<Program> p(Program::LoadShaderFromString(kVertex, kFragment));
    EXPECT_EQ(failureText([&] { p->uniform("unused"); }), "Program uniform not found: unused");
    EXPECT_EQ(failureText([&] { p->uniform(nullptr); }), "uniformName was NULL");
    EXPECT_EQ(failureText([&] { p->attrib("missing"); }), "Program attribute not found: missing");
    EXPECT_EQ(failureText([&] { p->attrib(nullptr); }), "attribName was NULL");
}

TEST_F(ProgramTest, LinkFailureCarriesTheLogAndLeavesNothing)
{
    const int before = liveGlObjects();
    const char* unresolved = "#version 120\n"
                             "vec4 colourOf();\n"
                             "void main() { gl_FragColor = colourOf(); }\n";
    const std::string text = failureText([&] { Program::LoadShaderFromString(kVertex, unresolved); });
    EXPECT_EQ(text.rfind("Program linking failure: ", 0), 0u) << text;
    EXPECT_GT(text.size(), std::string("Program linking failure: ").size());
    EXPECT_EQ(liveGlObjects(), before);
}

TEST_F(ProgramTest, FailuresOfTheRoutineLeaveNoShaderBehind)
{
    const int before = liveGlObjects();
    // The vertex shader compiles, then the fragment shader fails.
    EXPECT_EQ(failureText([] { Program::LoadShaderFromString(kVertex, "garbage"); }).rfind("Compile failure", 0), 0u);
    const std::string vs = writeTemp("qv_ok.vert", kVertex);
    EXPECT_EQ(failureText([&] { Program::LoadShaderFromFile(vs.c_str(), "/nonexistent/x.frag"); }),
              "Failed to open file: /nonexistent/x.frag");
    EXPECT_EQ(failureText([] { Program(std::vector<Shader>{}); }), "No shaders were provided to create the program");
    EXPECT_EQ(liveGlObjects(), before);
    std::remove(vs.c_str());
}
