# The main road walked on the real executable under Xvfb while it records what it draws, each
# screen checked for texts off the window, over each other, over buttons or out of their box, and
# for contrast; then the intro with subtitles, the hardcore notice, a focused button's pulse, the
# bonus modes with the on-screen controls (time attack's music heard through its race), arrows
# held through boxes, keys held as the pause menu and the results come up, presses made as a
# screen changes (and the window's focus lost as a level loads or resumes), the pause and Space
# pressed as a page opens or the level fades back in, and the closing
# credits; at a 1280 x 720 window and at the game's own 1334 x 750 one; and on a 1024 x 600 screen.
# The walks wait on the game's frames, which a loaded machine draws slower; a game that stops
# drawing is ended within minutes by the walk itself. Their cases run as parts side by side, each
# a few minutes long, each in a process and an Xvfb of its own.
zelv_test(game_audit_walk_test SOURCES tests/AuditWalkTest.cpp
          DEPS zelv_testing_game_window zelv_testing_x11 zelv_save zelv_level zelv_services zelv::png GL NOMAIN
          TIMEOUT 900 2400)
if(TARGET game_audit_walk_test)
  add_dependencies(game_audit_walk_test zelv pak)
endif()
# The walks read the English they ask the game for, whatever language the machine is set to: they
# run on a machine set to Chinese here and to French at the game's own size (the intro's case sets
# German itself).
if(TEST game_audit_walk_test)
  set_property(TEST game_audit_walk_test APPEND PROPERTY ENVIRONMENT
    LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/os/shell/tests/lsan-x11.supp ZELV_XVFB_SCREEN=1280x720 LANGUAGE=zh_CN)
  set(small_screen AuditWalk.SmallScreenShowsTheWholeLayoutAndTakesClicksWhereItIsDrawn)
  # Reading the closing credits is left to the normal build, which keeps the sanitizer runs
  # inside the test command's time; those still play the credits in the last level's real run.
  set(skipped ${small_screen})
  if(ZELV_SANITIZE)
    set(skipped ${small_screen}:AuditWalk.ClosingCreditsReadWhereverTheyRoll)
  endif()
  set_property(TEST game_audit_walk_test APPEND PROPERTY ENVIRONMENT GTEST_FILTER=-${skipped})
endif()
# The other sizes run the same code on another layout: checked in the normal build only, which
# keeps the sanitizer runs inside the test command's time. Keys held through boxes and screens act
# the same in any window: those cases run at one size.
if(TEST game_audit_walk_test AND NOT ZELV_SANITIZE)
  add_test(NAME game_audit_walk_1334_test COMMAND game_audit_walk_test)
  get_test_property(game_audit_walk_test ENVIRONMENT walk_env)
  list(FILTER walk_env EXCLUDE REGEX "^(ZELV_XVFB_SCREEN|GTEST_FILTER|LANGUAGE)=")
  set_tests_properties(game_audit_walk_1334_test PROPERTIES LABELS gl
                       ENVIRONMENT "${walk_env};LC_ALL=fr_FR.UTF-8;ZELV_XVFB_SCREEN=1400x800;GTEST_FILTER=-${small_screen}:AuditWalk.HeldArrowsMoveNoBoxNorThePageUnderIt:AuditWalk.KeysHeldAsThePauseMenuOrTheResultsComeUpPressNothingThere:AuditWalk.PressesMadeAsAScreenChangesActThereAndKeysDownAsItBeganDoNot:AuditWalk.TwoPressesAsAScreenChangesActTwiceThere:AuditWalk.PauseOrSpacePressedAsAPageOpensOrTheLevelFadesBackActsThere")
  # A screen smaller than the game's window: only the small-screen case, and only here.
  add_test(NAME game_audit_walk_1024_test COMMAND game_audit_walk_test --gtest_filter=${small_screen})
  set_tests_properties(game_audit_walk_1024_test PROPERTIES LABELS gl
                       ENVIRONMENT "${walk_env};ZELV_XVFB_SCREEN=1024x600")
  zelv_test_timeout(game_audit_walk_1024_test 600)
endif()
# Each part given five times or more what it takes on two quiet cores, in each build.
set(walk_road AuditWalk.EveryScreenOfTheMainRoadIsReadableAndInsideTheWindow)
set(walk_bonus AuditWalk.SubtitlesNoticeFocusBonusModesAndOnScreenControls)
set(walk_credits AuditWalk.ClosingCreditsReadWhereverTheyRoll:AuditWalk.SubtitlesInTheLanguageAskedForWhateverTheMachineSpeaks)
if(TEST game_audit_walk_test)
  zelv_test_part(game_audit_walk_test road ${walk_road} TIMEOUT 1200 2400)
  zelv_test_part(game_audit_walk_test bonus ${walk_bonus} TIMEOUT 1800 3000)
  zelv_test_part(game_audit_walk_test credits ${walk_credits} TIMEOUT 1200 600)
  zelv_test_part(game_audit_walk_test presses
                 AuditWalk.PressesMadeAsAScreenChangesActThereAndKeysDownAsItBeganDoNot:AuditWalk.TwoPressesAsAScreenChangesActTwiceThere
                 TIMEOUT 1500 2400)
  zelv_test_part(game_audit_walk_test held
                 AuditWalk.HeldArrowsMoveNoBoxNorThePageUnderIt:AuditWalk.KeysHeldAsThePauseMenuOrTheResultsComeUpPressNothingThere
                 TIMEOUT 1500 2400)
  # Left in the test: the rating question, the pause and Space as a page opens, the audit's rules.
endif()
if(TEST game_audit_walk_1334_test)
  zelv_test_part(game_audit_walk_1334_test road ${walk_road} COMMAND game_audit_walk_test TIMEOUT 1200)
  zelv_test_part(game_audit_walk_1334_test bonus ${walk_bonus} COMMAND game_audit_walk_test TIMEOUT 1800)
  zelv_test_part(game_audit_walk_1334_test credits ${walk_credits} COMMAND game_audit_walk_test TIMEOUT 1200)
  # Left in the test: the rating question and the audit's rules.
  zelv_test_timeout(game_audit_walk_1334_test 600)
endif()
