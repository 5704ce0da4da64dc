# Sound effects: the OpenAL context, Opus-decoded sound banks and sound handles.
target_link_libraries(zelv_audio PUBLIC zelv_os zelv_services zelv::openal zelv::opusfile)

zelv_test(audio_opus_decoder_test SOURCES tests/OpusDecoderTest.cpp DEPS zelv_audio TIMEOUT 60)
zelv_test(audio_context_test SOURCES tests/AudioContextTest.cpp DEPS zelv_audio TIMEOUT 120)
zelv_test(audio_sound_test SOURCES tests/SoundTest.cpp DEPS zelv_audio TIMEOUT 120)

zelv_benchmark(audio_decode_bench SOURCES bench/DecodeBench.cpp DEPS zelv_audio)

zelv_fuzzer(audio_opus_decoder_fuzzer SOURCES fuzz/OpusDecoderFuzzer.cpp DEPS zelv_audio
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/audio_opus_decoder_fuzzer)
if(TEST audio_opus_decoder_fuzzer)
  set_property(TEST audio_opus_decoder_fuzzer APPEND PROPERTY ENVIRONMENT
    LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/fuzz/opusfile.supp)
endif()
# Needs the sample data archive (the pak target).
zelv_test(audio_sample_sounds_test SOURCES tests/SampleSoundsTest.cpp DEPS zelv_audio TIMEOUT 120)
zelv_test(audio_teardown_test SOURCES tests/TeardownTest.cpp DEPS zelv_audio TIMEOUT 60)
if(TEST audio_teardown_test)
  set_property(TEST audio_teardown_test APPEND PROPERTY ENVIRONMENT
    ALSOFT_LOGLEVEL=2 ALSOFT_LOGFILE=${CMAKE_CURRENT_BINARY_DIR}/audio_teardown_openal.log)
endif()
