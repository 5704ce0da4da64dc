# Rendering core: GL state caches, shaders, background decoding, the texture table and pass.
target_link_libraries(zelv_graphics PUBLIC zelv_os zelv_services zelv::gles2 zelv::egl zelv::png zelv::webp
                      zelv::boost)

add_library(zelv_graphics_testsupport STATIC EXCLUDE_FROM_ALL tests/FakeGl.cpp tests/TestImages.cpp)
target_link_libraries(zelv_graphics_testsupport PUBLIC zelv_graphics)

zelv_test(graphics_image_decoding_test SOURCES tests/ImageDecodingTest.cpp DEPS zelv_graphics_testsupport)
zelv_test(graphics_state_cache_test SOURCES tests/StateCacheTest.cpp DEPS zelv_graphics_testsupport)
zelv_test(graphics_texture_pass_test TSAN SOURCES tests/TexturePassTest.cpp DEPS zelv_graphics_testsupport)
zelv_test(graphics_rendering_gl_test GL TSAN SOURCES tests/RenderingGlTest.cpp DEPS zelv_graphics_testsupport TIMEOUT 300 600 600)
# The shader test reads the shaders from the built data archive.
add_dependencies(graphics_rendering_gl_test pak)
zelv_fuzzer(graphics_image_fuzzer SOURCES fuzz/ImageFuzzer.cpp DEPS zelv_graphics
            CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/graphics_image_fuzzer)
zelv_benchmark(graphics_texture_bench SOURCES bench/TextureBench.cpp DEPS zelv_graphics_testsupport)
