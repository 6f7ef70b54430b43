# fuzz_font: font files, sizes and labels through the font library (ftgl/) and
# QX_FTFont's UTF-8 decoder; included by this folder's CMakeLists.txt.
find_package(Freetype REQUIRED)
find_package(GLEW REQUIRED)
set(OpenGL_GL_PREFERENCE GLVND)
find_package(OpenGL REQUIRED COMPONENTS OpenGL GLX)
set(QV_FTGL ${CMAKE_CURRENT_LIST_DIR}/../../ftgl)
# QX_FTFont.cpp brings charToWchar; its GL paths are never called here.
qv_add_fuzzer(fuzz_font fuzz_font.cpp ${QV_FTGL}/texture-atlas.cpp ${QV_FTGL}/texture-font.cpp ${QV_FTGL}/vector.cpp
              ${QV_SRC}/overlay/QX_FTFont.cpp ${QV_SRC}/boundary/Debug_Trace.cpp ${QV_SRC}/gl/GlLoader.cpp
              ${QV_SRC}/gl/PixelStore.cpp
              LIBS Freetype::Freetype GLEW::GLEW OpenGL::OpenGL OpenGL::GLX ${CMAKE_DL_LIBS})
target_include_directories(fuzz_font PRIVATE ${QV_FTGL})
