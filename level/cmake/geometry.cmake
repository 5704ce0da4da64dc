# Level geometry: packed shapes into Box2D fixtures, curve and keyframe maths.
target_link_libraries(zelv_level PUBLIC zelv::box2d)

zelv_test(level_curves_test SOURCES tests/CurvesTest.cpp DEPS zelv_level)
