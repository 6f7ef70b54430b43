# libFuzzer target fuzz_font: font files, sizes and labels through the font
# library (ftgl/) and QX_FTFont's UTF-8 decoder. Needs clang (14 tested) as the
# C++ compiler; not part of the library build or of .ci/run.
#   include(${CMAKE_CURRENT_LIST_DIR}/fuzz_font.cmake)
# Run: build/fuzz_font -jobs=1 -max_total_time=1800 corpus/ <seed fonts>
get_filename_component(_qv_root "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
find_package(Freetype REQUIRED)
find_package(GLEW REQUIRED)
find_package(OpenGL REQUIRED COMPONENTS OpenGL GLX)
find_package(JNI REQUIRED)
set(_qv_fuzz_flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -g -O1)
add_executable(fuzz_font
    ${CMAKE_CURRENT_LIST_DIR}/fuzz_font.cpp
    ${_qv_root}/ftgl/texture-atlas.cpp
    ${_qv_root}/ftgl/texture-font.cpp
    ${_qv_root}/ftgl/vector.cpp
    # QX_FTFont.cpp brings charToWchar; its GL paths are never called here.
    ${_qv_root}/src/overlay/QX_FTFont.cpp
    ${_qv_root}/src/boundary/Debug_Trace.cpp
    ${_qv_root}/src/gl/GlLoader.cpp
    ${_qv_root}/src/gl/PixelStore.cpp)
set_target_properties(fuzz_font PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON)
target_include_directories(fuzz_font PRIVATE ${_qv_root}/src ${_qv_root}/ftgl ${JNI_INCLUDE_DIRS})
target_compile_options(fuzz_font PRIVATE ${_qv_fuzz_flags})
target_link_options(fuzz_font PRIVATE ${_qv_fuzz_flags})
target_link_libraries(fuzz_font PRIVATE Freetype::Freetype GLEW::GLEW OpenGL::OpenGL OpenGL::GLX ${CMAKE_DL_LIBS})
