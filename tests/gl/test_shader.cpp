// Shader and program objects and the shared loading routine, on a real context.
#include "gl/Program.h"
#include "support/GlState.h"

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

} // namespace

class ShaderTest : public qvtest::GlTest { };

TEST_F(ShaderTest, CopiesShareOneObjectDeletedWithTheLast)
{
    auto* original = new Shader(kFragment, GL_FRAGMENT_SHADER);
    const GLuint name = original->object(); // 0 is no shader: glIsShader below fails
    auto* a = new Shader(*original);
    Shader c = *a;
    c = c; // self-assignment keeps it valid
    EXPECT_EQ(c.object(), name);
    delete original;
    delete a;
    EXPECT_TRUE(glIsShader(name));
    Shader other(kVertex, GL_VERTEX_SHADER);
    c = other; // releases the last hold on the fragment shader
    EXPECT_FALSE(glIsShader(name));
    EXPECT_EQ(c.object(), other.object());
}

// The file form links, detaches its shaders and draws; every failure names what
// failed (with the driver's log); nothing but a live program stays in GL.
TEST_F(ShaderTest, FileFormDrawsAndFailuresNameTheCauseAndLeaveNothing)
{
    const int before = qvtest::liveGlObjects();
    const std::string vs = testing::TempDir() + "qv_test.vert", fs = testing::TempDir() + "qv_test.frag";
    std::ofstream(vs) << kVertex;
    std::ofstream(fs) << kFragment;
    std::unique_ptr<Program> p(Program::LoadShaderFromFile(vs.c_str(), fs.c_str()));
    // A deleted shader lives on while attached: one object left means detached and deleted.
    EXPECT_EQ(qvtest::liveGlObjects(), before + 1) << "only the program itself may remain";
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
    EXPECT_PIXEL(gl(), 128, 128, qvtest::kGreen, 0);

    const char* unresolved = "#version 120\nvec4 colourOf();\nvoid main() { gl_FragColor = colourOf(); }\n";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] { Shader("void main() { this is not glsl }", GL_FRAGMENT_SHADER); },
         "Compile failure in shader:\n0"},
        {[] { Program::LoadShaderFromString(kVertex, "garbage"); }, "Compile failure in shader:\n0"},
        {[&] { Program::LoadShaderFromString(kVertex, unresolved); }, "Program linking failure: 0"},
        {[] { Shader::shaderFromFile("/nonexistent/a.vert", GL_VERTEX_SHADER); },
         "Failed to open file: /nonexistent/a.vert"},
        {[&] { Program::LoadShaderFromFile(vs.c_str(), "/nonexistent/x.frag"); },
         "Failed to open file: /nonexistent/x.frag"},
        {[] { Program(std::vector<Shader>{}); }, "No shaders were provided to create the program"},
        {[&] { p->uniform("unused"); }, "Program uniform not found: unused"},
        {[&] { p->uniform(nullptr); }, "uniformName was NULL"},
        {[&] { p->attrib("missing"); }, "Program attribute not found: missing"},
        {[&] { p->attrib(nullptr); }, "attribName was NULL"},
    };
    for (const auto& c : cases) {
        std::string text = "<no failure>";
        try {
            c.first();
        } catch (const std::runtime_error& e) {
            text = e.what();
        }
        // A trailing "0" stands for "and a non-empty driver log".
        const bool withLog = c.second.back() == '0';
        const std::string prefix = withLog ? c.second.substr(0, c.second.size() - 1) : c.second;
        EXPECT_EQ(text.substr(0, prefix.size()), prefix);
        EXPECT_TRUE(withLog ? text.size() > prefix.size() : text == prefix) << text;
    }
    p.reset();
    EXPECT_EQ(qvtest::liveGlObjects(), before);
    std::remove(vs.c_str());
    std::remove(fs.c_str());
}
