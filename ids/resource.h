#pragma once
// Every resource id of the program with its fixed value: dialogs, controls, strings, bitmaps,
// icon and version. Read by the resource compiler as well as by C++.

// Dialogs
#define IDD_ABOUT 100
#define IDD_MOVIE 101
#define IDD_HOTKEYS 102
#define IDD_DESTINATION 103
#define IDD_SOUND 104
#define IDD_HOTKEY_EDIT 107
#define IDD_CAPTURE_AREA 108

// Bitmaps and icon
#define IDI_VORLUX 100
#define IDB_STRIP 109
#define IDB_ABOUT 1000
#define IDI_STATUS_IDLE 320 /* the status icon's pictures, 16 and 32 px each */
#define IDI_STATUS_RECORDING 321
#define IDI_STATUS_PAUSED 322
#define IDI_STATUS_FAILED 323

// Movie page
#define IDC_MOVIE_FPS 100
#define IDC_MOVIE_MODE 101
#define IDC_MOVIE_RESIZE 102
#define IDC_MOVIE_WIDTH 103
#define IDC_MOVIE_HEIGHT 104
#define IDC_MOVIE_TOP 105
#define IDC_MOVIE_LEFT 106
#define IDC_MOVIE_HIDE_CURSOR 107
#define IDC_MOVIE_HIDE_VORLUX 108
#define IDC_MOVIE_DEPTH 109
#define IDC_MOVIE_START 110
#define IDC_MOVIE_FRAME 111
#define IDC_MOVIE_PLAY 112
#define IDC_MOVIE_PAUSE 113
#define IDC_MOVIE_HIGHLIGHT_CLICKS 114
#define IDC_MOVIE_CURSOR_HALO 115
#define IDC_MOVIE_LOSSLESS 116
#define IDC_MOVIE_STATUS_ICON 117
#define IDC_MOVIE_SHOW_KEYS 120
#define IDC_MOVIE_FORMAT 130
#define IDC_MOVIE_FRAME_FORMAT 131
#define IDC_ABOUT_INFO 130 /* the About page's version and where the settings are */

// Hot Keys page
#define IDC_KEYS_START 100
#define IDC_KEYS_STOP 101
#define IDC_KEYS_PAUSE 102
#define IDC_KEYS_CAPTURE 103

// Hot-key dialog
#define IDC_HOTKEY_DEFAULT 100
#define IDC_HOTKEY_CONTROL 101

// Movie Destination page
#define IDC_DEST_PATH 100
#define IDC_DEST_AUTO 102
#define IDC_DEST_RESET 104

// Sound page
#define IDC_SOUND_ENABLE 100
#define IDC_SOUND_FORMAT 101
#define IDC_SOUND_BUFFERS 102
#define IDC_SOUND_FREQUENCY 103
#define IDC_SOUND_DATASIZE 104
#define IDC_SOUND_CHANNELS 105
#define IDC_SOUND_GIF_NOTE 106

// Capture Area dialog
#define IDC_AREA_MODE 100
#define IDC_AREA_KEYFRAME 101
#define IDC_AREA_PAN_VALUE 103
#define IDC_AREA_PAN_BAR 104
#define IDC_AREA_WIDTH 105
#define IDC_AREA_HEIGHT 106
#define IDC_AREA_LEFT 107
#define IDC_AREA_TOP 108

// Strings
#define IDS_MODE_FIRST 101 /* 101..105: the capture modes 0..4 */
#define IDS_MODE_FIXED_AREA 101
#define IDS_MODE_SMOOTH_PAN 102
#define IDS_MODE_FOLLOW_CURSOR 103
#define IDS_MODE_FOLLOW_FRAME 104
#define IDS_MODE_FOLLOW_WINDOWS 105
#define IDS_KEY_TITLE_START 110
#define IDS_KEY_TITLE_STOP 111
#define IDS_KEY_TITLE_PAUSE 112
#define IDS_KEY_TITLE_CAPTURE 113
#define IDS_START_ERROR 250 /* caption; 250 + code is the text of start error 1..9 */
#define IDS_NO_SOUND_DEVICE 259
#define IDS_ALREADY_RUNNING 270
#define IDS_SECOND_COPY 271
// A recording that ended on its own, hot keys that could not be registered, a snapshot that
// could not be written, and too little room for a movie.
#define IDS_RECORDING_STOPPED 280
#define IDS_FAILURE_DISK_FULL 281
#define IDS_FAILURE_WRITE 282
#define IDS_FAILURE_SOUND 283
#define IDS_FAILURE_KEPT 284
#define IDS_FAILURE_NO_REASON 285
#define IDS_HOTKEY_TAKEN_CAPTION 286
#define IDS_HOTKEY_TAKEN 287
#define IDS_HOTKEY_TAKEN_MARK 288
#define IDS_ACTION_FIRST 289 /* 289..292: the actions of the hot keys 20..23 */
#define IDS_ACTION_START 289
#define IDS_ACTION_STOP 290
#define IDS_ACTION_PAUSE 291
#define IDS_ACTION_CAPTURE 292
#define IDS_SNAPSHOT_FAILED_CAPTION 293
#define IDS_SNAPSHOT_FAILED 294
#define IDS_SNAPSHOT_NO_SCREEN 295
#define IDS_LOW_DISK_CAPTION 296
#define IDS_LOW_DISK 297
#define IDS_HOTKEY_SHARED 298
#define IDS_HELP_TITLE 300
#define IDS_HELP_MISSING 301 /* %s: the help file's path */
#define IDS_HELP_NOT_OPENED 302 /* %s: the help page's address */
#define IDS_PLAYER_FAILED_CAPTION 303
#define IDS_PLAYER_FAILED 304 /* %s: the player's command line */

// Version information
#define IDV_VERSION 1
