// Copy of CircleDataSets::renderVbo (instanced branch, filled and pick modes)
// and CircleDataSets::postRenderVbo as they were with the strip; see the header.
#include "legacy_circle_draw.h"

namespace {

void bindCircleVertices(const CircleDataSets& set)
{
    glEnableClientState(GL_VERTEX_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, set.pvbo);
    glVertexPointer(2, GL_FLOAT, 0, nullptr);
}

} // namespace

void legacyRenderVbo(CircleDataSets& set, int mode)
{
    if (!set.programsReady || set.totalNodes < 1 || mode < 1)
        return;
    Program* program = mode == 2 ? set.m_shader_tri : set.m_shader;
    program->use();
    program->setUniform("vtxtex", 0);
    program->setUniform("urx", set.updateRatiox);
    program->setUniform("ury", set.updateRatioy);
    if (mode != 2) {
        program->setUniform("vtxtex2", 2);
        glActiveTexture(GL_TEXTURE2);
        glBindTexture(GL_TEXTURE_2D, set.attributeTexID2);
    }
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, set.attributeTexID);
    bindCircleVertices(set);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, set.ivbo_tri);
    glDrawElementsInstanced(GL_TRIANGLE_STRIP, CircleDataSets::kTriIndices, GL_UNSIGNED_SHORT, nullptr,
                            set.totalNodes);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, 0);
    program->stopUsing();
}

void legacyPostRenderVbo(CircleDataSets& set, GLuint lookupTex)
{
    set.m_shader_pick->use();
    set.m_shader_pick->setUniform("urx", set.updateRatiox);
    set.m_shader_pick->setUniform("ury", set.updateRatioy);
    set.m_shader_pick->setUniform("vtxtex", 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, set.attributeTexID);
    set.m_shader_pick->setUniform("lookupTex", 1);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, lookupTex);
    bindCircleVertices(set);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, set.ivbo_tri);
    glDrawElementsInstanced(GL_TRIANGLE_STRIP, CircleDataSets::kTriIndices, GL_UNSIGNED_SHORT, nullptr,
                            set.totalNodes);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glActiveTexture(GL_TEXTURE0);
    set.m_shader_pick->stopUsing();
}
