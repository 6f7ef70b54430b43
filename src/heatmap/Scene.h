// A drawable scene driven by its owner: set up once, then updated and rendered.
#pragma once

class Scene {
public:
    Scene() = default;
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    virtual void initScene() = 0;
    virtual void update(float t) = 0;
    virtual void render() = 0;
    virtual void resize(int w, int h) = 0;

protected:
    // Scenes are destroyed through their own class, never through Scene.
    ~Scene() = default;

public:
    bool m_animate = true;
};
