#pragma once
// The engine's fixed art, sound and music: constant descriptors built before main and read from
// any thread. Each constant is named after its path: "tex" / "snd" / "hit" and the path below
// art/ or audio/ in CamelCase without its extension, e.g. "art/menus/buttons/play_lit.png" is
// Assets::texMenusButtonsPlayLit and "audio/character/Dravo_Jump.wav" Assets::sndCharacterDravoJump.
//
// The constants are inline variables: a global of another file that copies one is built after it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "os/SoundDescriptor.h"
#include "os/TextureDescriptor.h"

namespace Assets {

// Sampling presets.
inline constexpr TextureOptions smoothClamp{1, 1, 0, 0};
inline constexpr TextureOptions smoothRepeatT{1, 1, 0, 1};
inline constexpr TextureOptions pixelClamp{0, 0, 0, 0};
inline constexpr TextureOptions pixelRepeatS{0, 0, 1, 0};

// Half the width of the reference view (1280 pixels at 85 pixels per world unit) in front of the
// listener, so positional sounds fade in over the visible width.
inline float const positionalDepth = 1280.0f * (1.0f / 85.0f) * 0.5f;

// Playback presets.
inline SoundParams const menuSound{{0, 0, 0}, 0, 1.0f, 1, 1.25f, 2.0f};
inline SoundParams const menuLoop{{0, 0, 0}, SoundParams::looping, 1.0f, 1, 1.25f, 2.0f};
inline SoundParams const effectSound{{0, 0, 0}, 0, 1.0f, 0, 1.25f, 2.0f};
inline SoundParams const effectLoop{{0, 0, 0}, SoundParams::looping, 1.0f, 0, 1.25f, 2.0f};
inline SoundParams const positionalSound{{0, 0, positionalDepth}, SoundParams::positional, 1.0f, 0, 1.25f, 2.0f};
inline SoundParams const positionalLoop{
    {0, 0, positionalDepth}, SoundParams::positional | SoundParams::looping, 0.0f, 0, 1.25f, 2.0f};
inline SoundParams const lavaLoop{{0, 0, 0}, SoundParams::positional | SoundParams::looping, 0.0f, 0, 0.8f, 1.7f};

// Every texture: the empty descriptor first, then 163 images.
inline TextureDescriptor const textures[] = {
    {},
    {"art/character/Body.png", smoothClamp, 3},
    {"art/character/Eye.png", smoothClamp, 3},
    {"art/character/Eyebig.png", smoothClamp, 3},
    {"art/character/Eyeblinkright.png", smoothClamp, 3},
    {"art/character/Eyeblinkleft.png", smoothClamp, 3},
    {"art/character/Brows.png", smoothClamp, 3},
    {"art/effects/water/watersplash.png", smoothClamp, 2},
    {"art/effects/gold/goldsprite.png", smoothClamp, 3},
    {"art/effects/gold/goldgradient.png", smoothClamp, 2},
    {"art/hud/hud_button_pause.png", smoothClamp, 3},
    {"art/hud/hud_button_leftright.png", smoothClamp, 3},
    {"art/hud/hud_button_leftright_ipad.png", smoothClamp, 3},
    {"art/hud/hud_button_expand.png", smoothClamp, 3},
    {"art/hud/hud_button_expand_ipad.png", smoothClamp, 3},
    {"art/hud/hud_button_pounce.png", smoothClamp, 3},
    {"art/hud/hud_button_pounce_ipad.png", smoothClamp, 3},
    {"art/hud/touchslider_background.png", pixelRepeatS, 3},
    {"art/hud/touchslider_background_mid.png", pixelRepeatS, 3},
    {"art/hud/touchslider_indicator.png", smoothClamp, 3},
    {"art/hud/touchslider_indicator_stop.png", pixelRepeatS, 3},
    {"art/tutorial/thumb.png", smoothClamp, 3},
    {"art/tutorial/sliding_thumb.png", smoothClamp, 3},
    {"art/tutorial/swiping_thumb.png", smoothClamp, 3},
    {"art/tutorial/thumb_hitcircle.png", smoothClamp, 3},
    {"art/tutorial/thumb_hitcircle_highlighted.png", smoothClamp, 3},
    {"art/tutorial/line.png", smoothRepeatT, 3},
    {"art/tutorial/textbackground.png", smoothClamp, 3},
    {"art/colors/white.png", pixelClamp, 3},
    {"art/colors/lightgray.png", pixelClamp, 3},
    {"art/colors/gray.png", pixelClamp, 3},
    {"art/colors/black.png", pixelClamp, 3},
    {"art/cutscenes/overlay/skip.png", smoothClamp, 3},
    {"art/cutscenes/overlay/skip_highlighted.png", smoothClamp, 3},
    {"art/cutscenes/overlay/textbackground.png", smoothClamp, 3},
    {"art/secret/cog.png", smoothClamp, 3},
    {"art/menus/confirmationbox/background.png", pixelClamp, 3},
    {"art/menus/mainmenu/vastellogo.png", pixelClamp, 3},
    {"art/menus/mainmenu/vastellogo-ko_KR.png", pixelClamp, 3},
    {"art/menus/mainmenu/vastellogo-zh_CN.png", pixelClamp, 3},
    {"art/menus/mainmenu/vastellogo-zh_TW.png", pixelClamp, 3},
    {"art/menus/mainmenu/vastellogo-ja_JP.png", pixelClamp, 3},
    {"art/menus/mainmenu/mainmenu_background.png", pixelClamp, 3},
    {"art/menus/mainmenu/mainmenu_legend_background.png", pixelClamp, 3},
    {"art/menus/backgrounds/woodplate.png", pixelClamp, 3},
    {"art/menus/backgrounds/woodplate_hardcore.png", pixelClamp, 3},
    {"art/menus/backgrounds/woodplate_hardcore_win.png", pixelClamp, 3},
    {"art/menus/levelselect/navigation_light.png", pixelClamp, 3},
    {"art/menus/levelselect/navigation_dark.png", pixelClamp, 3},
    {"art/menus/levelselect/ministar_background.png", pixelClamp, 3},
    {"art/menus/levelselect/ministar_background_bonus.png", pixelClamp, 3},
    {"art/menus/levelselect/ministar.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_padlock.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_1.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_2.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_3.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_4.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_5.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_6.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_7.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_8.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_9.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_10.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_11.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_12.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_13.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_14.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_15.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_16.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_17.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_18.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_19.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_20.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_A.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_B.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_C.png", pixelClamp, 3},
    {"art/menus/levelselect/Buttontext_D.png", pixelClamp, 3},
    {"art/menus/levelselect/actmap01.png", pixelClamp, 3},
    {"art/menus/levelselect/actmap02.png", pixelClamp, 3},
    {"art/menus/levelselect/actmap03.png", pixelClamp, 3},
    {"art/menus/levelselect/actmap04.png", pixelClamp, 3},
    {"art/menus/levelselect/actmap05.png", pixelClamp, 3},
    {"art/menus/levelselect/loading_background.png", pixelClamp, 3},
    {"art/menus/levelselect/Gear_00000.png", pixelClamp, 3},
    {"art/menus/options/backbar_wide.png", pixelClamp, 3},
    {"art/menus/options/backbar.png", pixelClamp, 3},
    {"art/menus/results/star.png", pixelClamp, 3},
    {"art/menus/results/endoflevel_overlay_bonus.png", pixelClamp, 3},
    {"art/menus/results/endoflevel_overlay_bonus_b.png", pixelClamp, 3},
    {"art/menus/results/endoflevel_a.png", pixelClamp, 3},
    {"art/menus/effects/Endoflevel_swipe.png", pixelClamp, 3},
    {"art/menus/effects/loadingcircle.png", smoothClamp, 3},
    {"art/coins/Shockwave.png", pixelClamp, 3},
    {"art/menus/backgrounddownloader/blackbar_back.png", pixelRepeatS, 3},
    {"art/menus/backgrounddownloader/greenbar.png", pixelRepeatS, 3},
    {"art/menus/backgrounddownloader/glass_top.png", pixelRepeatS, 3},
    {"art/menus/backgrounddownloader/holder_left.png", pixelRepeatS, 3},
    {"art/menus/leaderboard/leaderboard_woodplate.png", pixelClamp, 3},
    {"art/menus/leaderboard/backbar.png", pixelClamp, 3},
    {"art/menus/leaderboard/leaderboard_table_background.png", pixelClamp, 3},
    {"art/menus/leaderboard/leaderboard_legend_background.png", pixelClamp, 3},
    {"art/menus/leaderboard/leaderboard_legend_mine_ps4.png", pixelClamp, 3},
    {"art/menus/leaderboard/leaderboard_legend_overall_ps4.png", pixelClamp, 3},
    {"art/menus/leaderboard/leaderboard_legend_mine.png", pixelClamp, 3},
    {"art/menus/leaderboard/leaderboard_legend_overall.png", pixelClamp, 3},
    {"art/menus/leaderboard/leaderboard_legend_mine_key.png", pixelClamp, 3},
    {"art/menus/leaderboard/leaderboard_legend_overall_key.png", pixelClamp, 3},
    {"art/menus/buttons/continue_normal.png", pixelClamp, 3},
    {"art/menus/buttons/continue_highlight.png", pixelClamp, 3},
    {"art/menus/buttons/checkbox_unchecked.png", pixelClamp, 3},
    {"art/menus/buttons/checkbox_checked.png", pixelClamp, 3},
    {"art/menus/buttons/checkbox_unchecked_selected.png", pixelClamp, 3},
    {"art/menus/buttons/confirmation_normal.png", pixelClamp, 3},
    {"art/menus/buttons/confirmation_highlight.png", pixelClamp, 3},
    {"art/menus/buttons/mainmenubutton_normal.png", pixelClamp, 3},
    {"art/menus/buttons/mainmenubutton_lit.png", pixelClamp, 3},
    {"art/menus/buttons/flipperleft_normal.png", pixelClamp, 3},
    {"art/menus/buttons/flipperleft_lit.png", pixelClamp, 3},
    {"art/menus/buttons/flipperright_normal.png", pixelClamp, 3},
    {"art/menus/buttons/flipperright_lit.png", pixelClamp, 3},
    {"art/menus/buttons/restartlevelbutton_normal.png", pixelClamp, 3},
    {"art/menus/buttons/restartlevelbutton_lit.png", pixelClamp, 3},
    {"art/menus/buttons/Pilleft_normal.png", smoothClamp, 3},
    {"art/menus/buttons/Pilleft_lit.png", smoothClamp, 3},
    {"art/menus/buttons/exit_button_normal.png", smoothClamp, 3},
    {"art/menus/buttons/exit_button_lit.png", smoothClamp, 3},
    {"art/menus/buttons/Levelbutton_black_normal.png", pixelClamp, 3},
    {"art/menus/buttons/Levelbutton_black_lit.png", pixelClamp, 3},
    {"art/menus/buttons/Levelbutton_purple_normal.png", pixelClamp, 3},
    {"art/menus/buttons/Levelbutton_purple_lit.png", pixelClamp, 3},
    {"art/menus/buttons/options_normal.png", pixelClamp, 3},
    {"art/menus/buttons/options_lit.png", pixelClamp, 3},
    {"art/menus/buttons/options_small_normal.png", pixelClamp, 3},
    {"art/menus/buttons/options_small_lit.png", pixelClamp, 3},
    {"art/menus/buttons/leaderboards_normal.png", pixelClamp, 3},
    {"art/menus/buttons/leaderboards_lit.png", pixelClamp, 3},
    {"art/menus/buttons/leaderboard_results_normal.png", pixelClamp, 3},
    {"art/menus/buttons/leaderboard_results_lit.png", pixelClamp, 3},
    {"art/menus/buttons/credits_normal.png", pixelClamp, 3},
    {"art/menus/buttons/credits_lit.png", pixelClamp, 3},
    {"art/menus/buttons/hardcore_normal.png", pixelClamp, 3},
    {"art/menus/buttons/hardcore_lit.png", pixelClamp, 3},
    {"art/menus/buttons/trailer_normal.png", pixelClamp, 3},
    {"art/menus/buttons/trailer_lit.png", pixelClamp, 3},
    {"art/menus/buttons/play_normal.png", pixelClamp, 3},
    {"art/menus/buttons/play_lit.png", pixelClamp, 3},
    {"art/menus/buttons/pg_sign_in_normal.png", pixelClamp, 3},
    {"art/menus/buttons/pg_sign_in_lit.png", pixelClamp, 3},
    {"art/menus/buttons/pg_leaderboard_normal.png", pixelClamp, 3},
    {"art/menus/buttons/pg_leaderboard_lit.png", pixelClamp, 3},
    {"art/menus/buttons/pg_leaderboardSmall_normal.png", pixelClamp, 3},
    {"art/menus/buttons/pg_leaderboardSmall_lit.png", pixelClamp, 3},
    {"art/menus/buttons/pg_achievement_normal.png", pixelClamp, 3},
    {"art/menus/buttons/pg_achievement_lit.png", pixelClamp, 3},
    {"art/menus/buttons/pg_achievementSmall_normal.png", pixelClamp, 3},
    {"art/menus/buttons/pg_achievementSmall_lit.png", pixelClamp, 3},
    {"art/menus/buttons/amazon_leaderboard_normal.png", pixelClamp, 3},
    {"art/menus/buttons/amazon_leaderboard_lit.png", pixelClamp, 3},
    {"art/menus/buttons/amazon_leaderboardSmall_normal.png", pixelClamp, 3},
    {"art/menus/buttons/amazon_leaderboardSmall_lit.png", pixelClamp, 3},
    {"art/menus/buttons/amazon_achievement_normal.png", pixelClamp, 3},
    {"art/menus/buttons/amazon_achievement_lit.png", pixelClamp, 3},
    {"art/menus/buttons/amazon_achievementSmall_normal.png", pixelClamp, 3},
    {"art/menus/buttons/amazon_achievementSmall_lit.png", pixelClamp, 3},
};
inline constexpr size_t textureCount = sizeof(textures) / sizeof(textures[0]);

inline TextureDescriptor const& texNone = textures[0];
inline TextureDescriptor const& texCharacterBody = textures[1];
inline TextureDescriptor const& texCharacterEye = textures[2];
inline TextureDescriptor const& texCharacterEyebig = textures[3];
inline TextureDescriptor const& texCharacterEyeblinkright = textures[4];
inline TextureDescriptor const& texCharacterEyeblinkleft = textures[5];
inline TextureDescriptor const& texCharacterBrows = textures[6];
inline TextureDescriptor const& texEffectsWaterWatersplash = textures[7];
inline TextureDescriptor const& texEffectsGoldGoldsprite = textures[8];
inline TextureDescriptor const& texEffectsGoldGoldgradient = textures[9];
inline TextureDescriptor const& texHudHudButtonPause = textures[10];
inline TextureDescriptor const& texHudHudButtonLeftright = textures[11];
inline TextureDescriptor const& texHudHudButtonLeftrightIpad = textures[12];
inline TextureDescriptor const& texHudHudButtonExpand = textures[13];
inline TextureDescriptor const& texHudHudButtonExpandIpad = textures[14];
inline TextureDescriptor const& texHudHudButtonPounce = textures[15];
inline TextureDescriptor const& texHudHudButtonPounceIpad = textures[16];
inline TextureDescriptor const& texHudTouchsliderBackground = textures[17];
inline TextureDescriptor const& texHudTouchsliderBackgroundMid = textures[18];
inline TextureDescriptor const& texHudTouchsliderIndicator = textures[19];
inline TextureDescriptor const& texHudTouchsliderIndicatorStop = textures[20];
inline TextureDescriptor const& texTutorialThumb = textures[21];
inline TextureDescriptor const& texTutorialSlidingThumb = textures[22];
inline TextureDescriptor const& texTutorialSwipingThumb = textures[23];
inline TextureDescriptor const& texTutorialThumbHitcircle = textures[24];
inline TextureDescriptor const& texTutorialThumbHitcircleHighlighted = textures[25];
inline TextureDescriptor const& texTutorialLine = textures[26];
inline TextureDescriptor const& texTutorialTextbackground = textures[27];
inline TextureDescriptor const& texColorsWhite = textures[28];
inline TextureDescriptor const& texColorsLightgray = textures[29];
inline TextureDescriptor const& texColorsGray = textures[30];
inline TextureDescriptor const& texColorsBlack = textures[31];
inline TextureDescriptor const& texCutscenesOverlaySkip = textures[32];
inline TextureDescriptor const& texCutscenesOverlaySkipHighlighted = textures[33];
inline TextureDescriptor const& texCutscenesOverlayTextbackground = textures[34];
inline TextureDescriptor const& texSecretCog = textures[35];
inline TextureDescriptor const& texMenusConfirmationboxBackground = textures[36];
inline TextureDescriptor const& texMenusMainmenuVastellogo = textures[37];
inline TextureDescriptor const& texMenusMainmenuVastellogoKoKR = textures[38];
inline TextureDescriptor const& texMenusMainmenuVastellogoZhCN = textures[39];
inline TextureDescriptor const& texMenusMainmenuVastellogoZhTW = textures[40];
inline TextureDescriptor const& texMenusMainmenuVastellogoJaJP = textures[41];
inline TextureDescriptor const& texMenusMainmenuMainmenuBackground = textures[42];
inline TextureDescriptor const& texMenusMainmenuMainmenuLegendBackground = textures[43];
inline TextureDescriptor const& texMenusBackgroundsWoodplate = textures[44];
inline TextureDescriptor const& texMenusBackgroundsWoodplateHardcore = textures[45];
inline TextureDescriptor const& texMenusBackgroundsWoodplateHardcoreWin = textures[46];
inline TextureDescriptor const& texMenusLevelselectNavigationLight = textures[47];
inline TextureDescriptor const& texMenusLevelselectNavigationDark = textures[48];
inline TextureDescriptor const& texMenusLevelselectMinistarBackground = textures[49];
inline TextureDescriptor const& texMenusLevelselectMinistarBackgroundBonus = textures[50];
inline TextureDescriptor const& texMenusLevelselectMinistar = textures[51];
inline TextureDescriptor const& texMenusLevelselectButtontextPadlock = textures[52];
inline TextureDescriptor const& texMenusLevelselectButtontext1 = textures[53];
inline TextureDescriptor const& texMenusLevelselectButtontext2 = textures[54];
inline TextureDescriptor const& texMenusLevelselectButtontext3 = textures[55];
inline TextureDescriptor const& texMenusLevelselectButtontext4 = textures[56];
inline TextureDescriptor const& texMenusLevelselectButtontext5 = textures[57];
inline TextureDescriptor const& texMenusLevelselectButtontext6 = textures[58];
inline TextureDescriptor const& texMenusLevelselectButtontext7 = textures[59];
inline TextureDescriptor const& texMenusLevelselectButtontext8 = textures[60];
inline TextureDescriptor const& texMenusLevelselectButtontext9 = textures[61];
inline TextureDescriptor const& texMenusLevelselectButtontext10 = textures[62];
inline TextureDescriptor const& texMenusLevelselectButtontext11 = textures[63];
inline TextureDescriptor const& texMenusLevelselectButtontext12 = textures[64];
inline TextureDescriptor const& texMenusLevelselectButtontext13 = textures[65];
inline TextureDescriptor const& texMenusLevelselectButtontext14 = textures[66];
inline TextureDescriptor const& texMenusLevelselectButtontext15 = textures[67];
inline TextureDescriptor const& texMenusLevelselectButtontext16 = textures[68];
inline TextureDescriptor const& texMenusLevelselectButtontext17 = textures[69];
inline TextureDescriptor const& texMenusLevelselectButtontext18 = textures[70];
inline TextureDescriptor const& texMenusLevelselectButtontext19 = textures[71];
inline TextureDescriptor const& texMenusLevelselectButtontext20 = textures[72];
inline TextureDescriptor const& texMenusLevelselectButtontextA = textures[73];
inline TextureDescriptor const& texMenusLevelselectButtontextB = textures[74];
inline TextureDescriptor const& texMenusLevelselectButtontextC = textures[75];
inline TextureDescriptor const& texMenusLevelselectButtontextD = textures[76];
inline TextureDescriptor const& texMenusLevelselectActmap01 = textures[77];
inline TextureDescriptor const& texMenusLevelselectActmap02 = textures[78];
inline TextureDescriptor const& texMenusLevelselectActmap03 = textures[79];
inline TextureDescriptor const& texMenusLevelselectActmap04 = textures[80];
inline TextureDescriptor const& texMenusLevelselectActmap05 = textures[81];
inline TextureDescriptor const& texMenusLevelselectLoadingBackground = textures[82];
inline TextureDescriptor const& texMenusLevelselectGear00000 = textures[83];
inline TextureDescriptor const& texMenusOptionsBackbarWide = textures[84];
inline TextureDescriptor const& texMenusOptionsBackbar = textures[85];
inline TextureDescriptor const& texMenusResultsStar = textures[86];
inline TextureDescriptor const& texMenusResultsEndoflevelOverlayBonus = textures[87];
inline TextureDescriptor const& texMenusResultsEndoflevelOverlayBonusB = textures[88];
inline TextureDescriptor const& texMenusResultsEndoflevelA = textures[89];
inline TextureDescriptor const& texMenusEffectsEndoflevelSwipe = textures[90];
inline TextureDescriptor const& texMenusEffectsLoadingcircle = textures[91];
inline TextureDescriptor const& texCoinsShockwave = textures[92];
inline TextureDescriptor const& texMenusBackgrounddownloaderBlackbarBack = textures[93];
inline TextureDescriptor const& texMenusBackgrounddownloaderGreenbar = textures[94];
inline TextureDescriptor const& texMenusBackgrounddownloaderGlassTop = textures[95];
inline TextureDescriptor const& texMenusBackgrounddownloaderHolderLeft = textures[96];
inline TextureDescriptor const& texMenusLeaderboardLeaderboardWoodplate = textures[97];
inline TextureDescriptor const& texMenusLeaderboardBackbar = textures[98];
inline TextureDescriptor const& texMenusLeaderboardLeaderboardTableBackground = textures[99];
inline TextureDescriptor const& texMenusLeaderboardLeaderboardLegendBackground = textures[100];
inline TextureDescriptor const& texMenusLeaderboardLeaderboardLegendMinePs4 = textures[101];
inline TextureDescriptor const& texMenusLeaderboardLeaderboardLegendOverallPs4 = textures[102];
inline TextureDescriptor const& texMenusLeaderboardLeaderboardLegendMine = textures[103];
inline TextureDescriptor const& texMenusLeaderboardLeaderboardLegendOverall = textures[104];
inline TextureDescriptor const& texMenusLeaderboardLeaderboardLegendMineKey = textures[105];
inline TextureDescriptor const& texMenusLeaderboardLeaderboardLegendOverallKey = textures[106];
inline TextureDescriptor const& texMenusButtonsContinueNormal = textures[107];
inline TextureDescriptor const& texMenusButtonsContinueHighlight = textures[108];
inline TextureDescriptor const& texMenusButtonsCheckboxUnchecked = textures[109];
inline TextureDescriptor const& texMenusButtonsCheckboxChecked = textures[110];
inline TextureDescriptor const& texMenusButtonsCheckboxUncheckedSelected = textures[111];
inline TextureDescriptor const& texMenusButtonsConfirmationNormal = textures[112];
inline TextureDescriptor const& texMenusButtonsConfirmationHighlight = textures[113];
inline TextureDescriptor const& texMenusButtonsMainmenubuttonNormal = textures[114];
inline TextureDescriptor const& texMenusButtonsMainmenubuttonLit = textures[115];
inline TextureDescriptor const& texMenusButtonsFlipperleftNormal = textures[116];
inline TextureDescriptor const& texMenusButtonsFlipperleftLit = textures[117];
inline TextureDescriptor const& texMenusButtonsFlipperrightNormal = textures[118];
inline TextureDescriptor const& texMenusButtonsFlipperrightLit = textures[119];
inline TextureDescriptor const& texMenusButtonsRestartlevelbuttonNormal = textures[120];
inline TextureDescriptor const& texMenusButtonsRestartlevelbuttonLit = textures[121];
inline TextureDescriptor const& texMenusButtonsPilleftNormal = textures[122];
inline TextureDescriptor const& texMenusButtonsPilleftLit = textures[123];
inline TextureDescriptor const& texMenusButtonsExitButtonNormal = textures[124];
inline TextureDescriptor const& texMenusButtonsExitButtonLit = textures[125];
inline TextureDescriptor const& texMenusButtonsLevelbuttonBlackNormal = textures[126];
inline TextureDescriptor const& texMenusButtonsLevelbuttonBlackLit = textures[127];
inline TextureDescriptor const& texMenusButtonsLevelbuttonPurpleNormal = textures[128];
inline TextureDescriptor const& texMenusButtonsLevelbuttonPurpleLit = textures[129];
inline TextureDescriptor const& texMenusButtonsOptionsNormal = textures[130];
inline TextureDescriptor const& texMenusButtonsOptionsLit = textures[131];
inline TextureDescriptor const& texMenusButtonsOptionsSmallNormal = textures[132];
inline TextureDescriptor const& texMenusButtonsOptionsSmallLit = textures[133];
inline TextureDescriptor const& texMenusButtonsLeaderboardsNormal = textures[134];
inline TextureDescriptor const& texMenusButtonsLeaderboardsLit = textures[135];
inline TextureDescriptor const& texMenusButtonsLeaderboardResultsNormal = textures[136];
inline TextureDescriptor const& texMenusButtonsLeaderboardResultsLit = textures[137];
inline TextureDescriptor const& texMenusButtonsCreditsNormal = textures[138];
inline TextureDescriptor const& texMenusButtonsCreditsLit = textures[139];
inline TextureDescriptor const& texMenusButtonsHardcoreNormal = textures[140];
inline TextureDescriptor const& texMenusButtonsHardcoreLit = textures[141];
inline TextureDescriptor const& texMenusButtonsTrailerNormal = textures[142];
inline TextureDescriptor const& texMenusButtonsTrailerLit = textures[143];
inline TextureDescriptor const& texMenusButtonsPlayNormal = textures[144];
inline TextureDescriptor const& texMenusButtonsPlayLit = textures[145];
inline TextureDescriptor const& texMenusButtonsPgSignInNormal = textures[146];
inline TextureDescriptor const& texMenusButtonsPgSignInLit = textures[147];
inline TextureDescriptor const& texMenusButtonsPgLeaderboardNormal = textures[148];
inline TextureDescriptor const& texMenusButtonsPgLeaderboardLit = textures[149];
inline TextureDescriptor const& texMenusButtonsPgLeaderboardSmallNormal = textures[150];
inline TextureDescriptor const& texMenusButtonsPgLeaderboardSmallLit = textures[151];
inline TextureDescriptor const& texMenusButtonsPgAchievementNormal = textures[152];
inline TextureDescriptor const& texMenusButtonsPgAchievementLit = textures[153];
inline TextureDescriptor const& texMenusButtonsPgAchievementSmallNormal = textures[154];
inline TextureDescriptor const& texMenusButtonsPgAchievementSmallLit = textures[155];
inline TextureDescriptor const& texMenusButtonsAmazonLeaderboardNormal = textures[156];
inline TextureDescriptor const& texMenusButtonsAmazonLeaderboardLit = textures[157];
inline TextureDescriptor const& texMenusButtonsAmazonLeaderboardSmallNormal = textures[158];
inline TextureDescriptor const& texMenusButtonsAmazonLeaderboardSmallLit = textures[159];
inline TextureDescriptor const& texMenusButtonsAmazonAchievementNormal = textures[160];
inline TextureDescriptor const& texMenusButtonsAmazonAchievementLit = textures[161];
inline TextureDescriptor const& texMenusButtonsAmazonAchievementSmallNormal = textures[162];
inline TextureDescriptor const& texMenusButtonsAmazonAchievementSmallLit = textures[163];

// Every sound effect, in table order.
inline SoundDescriptor const sounds[] = {
    {"audio/Dravo_Menu_ButtonGeneral.wav", menuSound},
    {"audio/Dravo_Menu_ButtonSelectLevel.wav", menuSound},
    {"audio/Dravo_Menu_ButtonPopup.wav", menuSound},
    {"audio/Dravo_Menu_CogWheelLoadingLoop.wav", menuLoop},
    {"audio/Dravo_InGameMenu_Popup.wav", menuSound},
    {"audio/Dravo_InGameMenu_Popup_Reversed.wav", menuSound},
    {"audio/Dravo_StarReward.wav", menuSound},
    {"audio/Dravo_LevelCompletePopupTextAnim.wav", menuSound},
    {"audio/Dravo_StarRewardSwoosh.wav", menuSound},
    {"audio/Dravo_Menu_SlideIn.wav", menuSound},
    {"audio/Dravo_Menu_SlideOut.wav", menuSound},
    {"audio/Dravo_Menu_ButtonToggle.wav", menuSound},
    {"audio/Dravo_BonusGame_CountDown.wav", effectSound},
    {"audio/Dravo_BonusGame_CameraShutter.wav", effectSound},
    {"audio/etc/Dravo_LevelCompletePopup.wav", menuSound},
    {"audio/character/Dravo_Jump.wav", positionalSound},
    {"audio/character/Dravo_Land.wav", positionalSound},
    {"audio/character/Dravo_Inflate.wav", positionalSound},
    {"audio/character/Dravo_Hover.wav", positionalLoop},
    {"audio/character/Dravo_CharacterSlideLoop.wav", positionalLoop},
    {"audio/character/Dravo_underwater.wav", effectLoop},
    {"audio/character/Dravo_CaracterDeath.wav", effectSound},
    {"audio/character/hardcorecomplete.wav", effectSound},
    {"audio/character/ouch001.wav", effectSound},
    {"audio/character/ouch002.wav", effectSound},
    {"audio/character/ouch003.wav", effectSound},
    {"audio/character/ouch004.wav", effectSound},
    {"audio/character/ouch005.wav", effectSound},
    {"audio/character/ouch006.wav", effectSound},
    {"audio/character/ouch007.wav", effectSound},
    {"audio/character/ouch008.wav", effectSound},
    {"audio/character/ouch009.wav", effectSound},
    {"audio/character/ouch010.wav", effectSound},
    {"audio/character/ouch011.wav", effectSound},
    {"audio/character/ouch012.wav", effectSound},
    {"audio/character/ouch013.wav", effectSound},
    {"audio/character/ouch014.wav", effectSound},
    {"audio/character/ouch015.wav", effectSound},
    {"audio/character/ouch016.wav", effectSound},
    {"audio/character/ouch017.wav", effectSound},
    {"audio/character/ouch018.wav", effectSound},
    {"audio/character/ouch019.wav", effectSound},
    {"audio/character/ouch020.wav", effectSound},
    {"audio/character/ouch021.wav", effectSound},
    {"audio/character/ouch022.wav", effectSound},
    {"audio/character/ouch023.wav", effectSound},
    {"audio/character/ouch024.wav", effectSound},
    {"audio/character/ouch025.wav", effectSound},
    {"audio/character/ouch026.wav", effectSound},
    {"audio/character/ouch027.wav", effectSound},
    {"audio/character/ouch028.wav", effectSound},
    {"audio/character/ouch029.wav", effectSound},
    {"audio/character/ouch030.wav", effectSound},
    {"audio/water/Dravo_WaterSplash01.wav", positionalSound},
    {"audio/water/Dravo_WaterSplash02.wav", positionalSound},
    {"audio/water/Dravo_WaterSplash03.wav", positionalSound},
    {"audio/Level20/Dravo_LavaLoop.wav", lavaLoop},
    {"audio/Dravo_InGameMenu_DialogZoomOut.wav", menuSound},
    {"audio/cog/achievement.wav", effectSound},
};
inline constexpr size_t soundCount = sizeof(sounds) / sizeof(sounds[0]);

inline SoundDescriptor const& sndDravoMenuButtonGeneral = sounds[0];
inline SoundDescriptor const& sndDravoMenuButtonSelectLevel = sounds[1];
inline SoundDescriptor const& sndDravoMenuButtonPopup = sounds[2];
inline SoundDescriptor const& sndDravoMenuCogWheelLoadingLoop = sounds[3];
inline SoundDescriptor const& sndDravoInGameMenuPopup = sounds[4];
inline SoundDescriptor const& sndDravoInGameMenuPopupReversed = sounds[5];
inline SoundDescriptor const& sndDravoStarReward = sounds[6];
inline SoundDescriptor const& sndDravoLevelCompletePopupTextAnim = sounds[7];
inline SoundDescriptor const& sndDravoStarRewardSwoosh = sounds[8];
inline SoundDescriptor const& sndDravoMenuSlideIn = sounds[9];
inline SoundDescriptor const& sndDravoMenuSlideOut = sounds[10];
inline SoundDescriptor const& sndDravoMenuButtonToggle = sounds[11];
inline SoundDescriptor const& sndDravoBonusGameCountDown = sounds[12];
inline SoundDescriptor const& sndDravoBonusGameCameraShutter = sounds[13];
inline SoundDescriptor const& sndEtcDravoLevelCompletePopup = sounds[14];
inline SoundDescriptor const& sndCharacterDravoJump = sounds[15];
inline SoundDescriptor const& sndCharacterDravoLand = sounds[16];
inline SoundDescriptor const& sndCharacterDravoInflate = sounds[17];
inline SoundDescriptor const& sndCharacterDravoHover = sounds[18];
inline SoundDescriptor const& sndCharacterDravoCharacterSlideLoop = sounds[19];
inline SoundDescriptor const& sndCharacterDravoUnderwater = sounds[20];
inline SoundDescriptor const& sndCharacterDravoCaracterDeath = sounds[21];
inline SoundDescriptor const& sndCharacterHardcorecomplete = sounds[22];
inline SoundDescriptor const& sndWaterDravoWaterSplash01 = sounds[53];
inline SoundDescriptor const& sndWaterDravoWaterSplash02 = sounds[54];
inline SoundDescriptor const& sndWaterDravoWaterSplash03 = sounds[55];
inline SoundDescriptor const& sndLevel20DravoLavaLoop = sounds[56];
inline SoundDescriptor const& sndDravoInGameMenuDialogZoomOut = sounds[57];
inline SoundDescriptor const& sndCogAchievement = sounds[58];
// The thirty "ouch" sounds, ouch001 to ouch030, lie in order from here.
inline constexpr size_t firstOuchSound = 23;
inline constexpr size_t ouchSoundCount = 30;

// Music tracks, played by path.
inline std::string const musicBonusGame{"audio/music/Dravo_MusicTrackBonusGame01.wav"};
inline std::string const musicMain{"audio/music/Dravo_MusicTrack01.wav"};
inline std::string const* const musicTracks[] = {&musicBonusGame, &musicMain};

// Button hit-area files.
inline std::string const hitAreas[] = {
    "art/menus/buttons/continue_bb.ai",
    "art/menus/buttons/checkbox_bb.ai",
    "art/menus/buttons/mainmenubutton_bb.ai",
    "art/menus/buttons/restartlevelbutton_bb.ai",
    "art/menus/buttons/Pilleft_bb.ai",
    "art/menus/buttons/Levelbutton_bb.ai",
    "art/menus/buttons/options_bb.ai",
    "art/menus/buttons/leaderboards_bb.ai",
    "art/menus/buttons/play_bb.ai",
    "art/menus/buttons/flipperleft_lit_bb.ai",
    "art/menus/buttons/flipperright_lit_bb.ai",
    "art/menus/buttons/confirmation_bb.ai",
    "art/menus/buttons/credits_bb.ai",
    "art/tutorial/thumb_hitcircle_bb.ai",
    "art/cutscenes/overlay/skip_bb.ai",
};
inline std::string const& hitMenusButtonsContinue = hitAreas[0];
inline std::string const& hitMenusButtonsCheckbox = hitAreas[1];
inline std::string const& hitMenusButtonsMainmenubutton = hitAreas[2];
inline std::string const& hitMenusButtonsRestartlevelbutton = hitAreas[3];
inline std::string const& hitMenusButtonsPilleft = hitAreas[4];
inline std::string const& hitMenusButtonsLevelbutton = hitAreas[5];
inline std::string const& hitMenusButtonsOptions = hitAreas[6];
inline std::string const& hitMenusButtonsLeaderboards = hitAreas[7];
inline std::string const& hitMenusButtonsPlay = hitAreas[8];
inline std::string const& hitMenusButtonsFlipperleftLit = hitAreas[9];
inline std::string const& hitMenusButtonsFlipperrightLit = hitAreas[10];
inline std::string const& hitMenusButtonsConfirmation = hitAreas[11];
inline std::string const& hitMenusButtonsCredits = hitAreas[12];
inline std::string const& hitTutorialThumbHitcircle = hitAreas[13];
inline std::string const& hitCutscenesOverlaySkip = hitAreas[14];

// The next of the thirty "ouch" sounds: consecutive calls walk through them in order and wrap
// around. Main thread only.
SoundDescriptor const& nextOuchSound();
// The level-select button's label art for a catalog button label: 2 to 20 and 'A' to 'D' have
// their own; anything else shows label 1.
TextureDescriptor const& levelButtonTextTexture(int32_t label);
// The act map for a catalog act character '1' to '5'; anything else shows act 1.
TextureDescriptor const& actMapTexture(int32_t act);

}  // namespace Assets
