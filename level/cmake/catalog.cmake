# Level catalog, and the check that the sample data archive holds every fixed asset path.
zelv_test(level_catalog_test SOURCES tests/LevelCatalogTest.cpp DEPS zelv_level)
zelv_test(level_catalog_data_test SOURCES tests/SampleDataTest.cpp DEPS zelv_level zelv_os zelv::webp)
if(TARGET level_catalog_data_test)
  # pak is defined later, by tools/; the dependency is resolved when the build is generated.
  add_dependencies(level_catalog_data_test pak)
endif()
