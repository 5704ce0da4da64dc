# The crash reporter that start-up enables when crash reporting is on.
target_link_libraries(zelv_agent PUBLIC zelv_crash)
